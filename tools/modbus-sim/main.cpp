// modbus-sim: a simulated Modbus RTU field device for tests and demonstrations.
//
// The simulator keeps the device end of the line: the master side of a pseudo-terminal pair (the
// driver opens the other end through a symbolic link), or a TCP connection accepted on 127.0.0.1
// that carries RTU frames byte for byte, as a serial-to-Ethernet converter in TCP server mode does.
// A request ends after a pause (--gap); a request with a good CRC for one of our slave addresses
// goes to that slave's libmodbus RTU context, whose socket is one end of a socket pair, so that the
// answer is exactly what libmodbus sends. The faults switched on through the control channel are
// applied to those bytes on their way to the line; with none on, the line carries libmodbus's
// answer unchanged. One process, one thread, one poll() loop with time-outs; nothing spins.

#include <sys/prctl.h>
#include <unistd.h>

#include <getopt.h>

#include <csignal>
#include <cstdio>
#include <string>

#include "rtu.h"
#include "simulator.h"

namespace {

const char kHelp[] = R"(usage: modbus-sim (--pty LINK | --tcp PORT) [options]

A simulated Modbus RTU slave device (answers by libmodbus).

Line (exactly one):
  --pty LINK            open a pseudo-terminal pair and make LINK a symbolic link to the end
                        the master opens; prints "READY LINK"
  --tcp PORT            listen on 127.0.0.1:PORT (4001 is the converter's usual port; 0 picks
                        a free one) and carry RTU frames over the connection; prints
                        "READY PORT". A new connection replaces the previous one.
  --baud N              accepted for realism; a pseudo-terminal has no speed
  --gap MS              silence that ends a request frame (default 10)

Data (in order; data options belong to the slave named by the last --slave, slave 1 before any):
  --slave N             serve slave address N (1..255); repeat for several slaves on one line
  --coils VALUES        coil values: ADDR=V[,V...], where V may be VALUE*COUNT
  --discrete VALUES     discrete input values
  --holding VALUES      holding register values (-32768..65535)
  --input VALUES        input register values
  --config FILE         the same from a file: lines "slave N", "coils VALUES", "discrete VALUES",
                        "holding VALUES", "input VALUES"; '#' starts a comment
  Each table spans its lowest to its highest configured address; other addresses, and tables
  with no values, get libmodbus's illegal data address exception.
  --animate[=MS]        every MS milliseconds (default 1000) each input register counts up by one

Records and control:
  --write-log FILE      one line per write request (functions 5, 6, 15, 16) received:
                        "slave=S function=F address=A values=V[,V...] result=ok|exception:C|broadcast"
  --control-port PORT   accept control connections on 127.0.0.1:PORT (0 picks a free one);
                        prints "CONTROL PORT" after the READY line

Stopping:
  --lifetime SECONDS    exit after that long
  --exit-on-stdin-eof   exit when standard input closes
  --exit-with-parent    exit when the parent process dies
  SIGTERM, SIGINT and SIGHUP stop it too; the link of --pty is removed on exit.

Control commands, one a line, each answered "OK" or "ERR reason". A fault applies to every
following answer, or with "once" to the next one only; a silent device ignores requests.
  silent on|off [once]             badcrc on|off [once]
  wrongslave ADDRESS|off [once]    answer from another address (with a valid CRC)
  exception CODE|off [once]        answer with exception CODE (1..11) instead of acting
  split MS|off [once]              send the first half, pause MS milliseconds, send the rest
  garbage-before HEX|off [once]    garbage-after HEX|off [once]
  drop-mid on|off [once]           TCP: send half the answer, then close the connection
  set coils|discrete|holding|input ADDRESS VALUE [SLAVE]   (default: the first slave)
  clear                            switch every fault off
  quit                             exit

Exit status: 0 after a stop, 1 when the line or a file cannot be opened, 2 on bad usage.
)";

int Usage(const std::string& message) {
    std::fprintf(stderr, "modbus-sim: %s\n(see modbus-sim --help)\n", message.c_str());
    return 2;
}

// Error text for a number outside low..high, or empty.
std::string Number(const std::string& text, long low, long high, const char* what, long& out) {
    const auto value = modbus_sim::ParseInt(text);
    if (!value || *value < low || *value > high)
        return std::string("bad ") + what + " '" + text + "' (" + std::to_string(low) + ".." +
               std::to_string(high) + ")";
    out = *value;
    return {};
}

} // namespace

int main(int argc, char** argv) {
    enum {
        kPty = 1000,
        kTcp,
        kBaud,
        kGap,
        kSlave,
        kCoils,
        kDiscrete,
        kHolding,
        kInput,
        kConfig,
        kAnimate,
        kWriteLog,
        kControlPort,
        kLifetime,
        kStdinEof,
        kWithParent,
        kHelpOption
    };
    static const option kOptions[] = {
        {"pty", required_argument, nullptr, kPty},
        {"tcp", required_argument, nullptr, kTcp},
        {"baud", required_argument, nullptr, kBaud},
        {"gap", required_argument, nullptr, kGap},
        {"slave", required_argument, nullptr, kSlave},
        {"coils", required_argument, nullptr, kCoils},
        {"discrete", required_argument, nullptr, kDiscrete},
        {"holding", required_argument, nullptr, kHolding},
        {"input", required_argument, nullptr, kInput},
        {"config", required_argument, nullptr, kConfig},
        {"animate", optional_argument, nullptr, kAnimate},
        {"write-log", required_argument, nullptr, kWriteLog},
        {"control-port", required_argument, nullptr, kControlPort},
        {"lifetime", required_argument, nullptr, kLifetime},
        {"exit-on-stdin-eof", no_argument, nullptr, kStdinEof},
        {"exit-with-parent", no_argument, nullptr, kWithParent},
        {"help", no_argument, nullptr, kHelpOption},
        {nullptr, 0, nullptr, 0},
    };

    modbus_sim::Options options;
    bool with_parent = false;
    opterr = 0;
    int opt;
    while ((opt = getopt_long(argc, argv, ":", kOptions, nullptr)) != -1) {
        const std::string arg = optarg ? optarg : "";
        const std::string name = optind > 0 && optind <= argc ? argv[optind - 1] : "";
        long value = 0;
        std::string error;
        switch (opt) {
        case kPty:
            if (arg.empty()) return Usage("--pty needs a link path");
            options.pty_link = arg;
            break;
        case kTcp:
            error = Number(arg, 0, 65535, "TCP port", value);
            options.tcp_port = static_cast<int>(value);
            break;
        case kBaud:
            error = Number(arg, 1, 4000000, "baud rate", value);
            break;
        case kGap:
            error = Number(arg, 1, 10000, "gap in ms", value);
            options.gap_ms = static_cast<int>(value);
            break;
        case kSlave:
            error = Number(arg, -1000000, 1000000, "slave address", value);
            if (error.empty()) error = options.slaves.Select(value);
            break;
        case kCoils:
            error = options.slaves.AddValues(modbus_sim::Table::coils, arg);
            break;
        case kDiscrete:
            error = options.slaves.AddValues(modbus_sim::Table::discrete, arg);
            break;
        case kHolding:
            error = options.slaves.AddValues(modbus_sim::Table::holding, arg);
            break;
        case kInput:
            error = options.slaves.AddValues(modbus_sim::Table::input, arg);
            break;
        case kConfig:
            error = options.slaves.LoadFile(arg);
            break;
        case kAnimate:
            value = 1000;
            if (optarg) error = Number(arg, 1, 3600000, "animation period in ms", value);
            options.animate_ms = static_cast<int>(value);
            break;
        case kWriteLog:
            options.write_log = arg;
            break;
        case kControlPort:
            error = Number(arg, 0, 65535, "control port", value);
            options.control_port = static_cast<int>(value);
            break;
        case kLifetime:
            error = Number(arg, 1, 100000000, "lifetime in seconds", value);
            options.lifetime_s = value;
            break;
        case kStdinEof:
            options.exit_on_stdin_eof = true;
            break;
        case kWithParent:
            with_parent = true;
            break;
        case kHelpOption:
            std::fputs(kHelp, stdout);
            return 0;
        case ':':
            return Usage(name + " needs an argument");
        default:
            return Usage("unknown option '" + name + "'");
        }
        if (!error.empty()) return Usage(error);
    }
    if (optind < argc) return Usage(std::string("unexpected argument '") + argv[optind] + "'");
    if (options.pty_link.empty() == (options.tcp_port < 0))
        return Usage("give exactly one of --pty LINK and --tcp PORT");

    if (with_parent) {
        const pid_t parent = getppid();
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) // it died before the request took hold
            return 0;
    }

    modbus_sim::Simulator simulator(std::move(options));
    if (std::string error = simulator.Start(); !error.empty()) {
        std::fprintf(stderr, "modbus-sim: %s\n", error.c_str());
        return 1;
    }
    return simulator.Run();
}
