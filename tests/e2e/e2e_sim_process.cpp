// The simulator's process helper, built into this test program once.
#include "modbus-sim/sim_process.cpp"
