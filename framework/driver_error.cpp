#include "framework/driver_error.h"

#include <cstring>

#include "platform/clock.h"
#include "platform/text.h"

namespace framework {

std::atomic<platform::HWND> LogWindowHandle{0};
TDriverErrorClass* ErrorObj = nullptr;

namespace {

// The codes whose text the error object itself knows; other codes carry their reporter's text.
const char* KnownErrorText(int32_t code) {
    switch (code) {
    case kErrNone:
        return "Успешное выполнение операции.";
    case kErrDuplicateAddress:
        return "Ошибка дублирования физического адреса тега.";
    case kErrNoPrefix:
        return "Устройству приписан пустой префикс или такого префикса нет в базе тегов.";
    case kErrReinitialize:
        return "Попытка реинициализации драйвера.";
    case kErrNotInitialized:
        return "Драйвер не инициализирован.";
    case kErrBadArguments:
        return "Ошибка в параметрах функции.";
    case kErrNotSupported:
        return "Функция не поддерживается драйвером.";
    case kErrCommandFailed:
        return "Ошибка обработки команды (Адрес=%d).";
    case kErrCrc:
        return "Ошибка CRC в ответе устройства %d.";
    case kErrDeviceAddress:
        return "Ошибка в поле адреса устройства %d.";
    case kErrProtocol:
        return "Ошибка протокола. Код ошибка %d.";
    case kErrBlockLength:
        return "Ошибка длины блока данных.";
    case kErrNoAnswer:
        return "Панель %d не отвечает";
    case kErrPortOpen:
        return "Ошибка открытия порта приема/передачи";
    case kErrPortWrite:
        return "Ошибка записи в физический порт.";
    case kErrCommandNotHandled:
        return "Не возможно обработать команду.";
    case kErrBlockType:
        return "Не известный тип принятого блока.";
    default:
        return "Общая незарегистрированная ошибка драйвера.";
    }
}

} // namespace

TDriverErrorClass::TDriverErrorClass() : Log(new TTerminalDataClass) {}

TDriverErrorClass::~TDriverErrorClass() {
    delete Log;
}

void TDriverErrorClass::AddToLog(int32_t code, const std::string& text) {
    Log->AddLine(text + ": " + platform::IntToStr(code));
}

void TDriverErrorClass::GetErrorText(int32_t code, int32_t arg, std::string& text) {
    text = platform::Cp(KnownErrorText(code));
    const std::size_t at = text.find("%d");
    if (at != std::string::npos) text.replace(at, 2, platform::IntToStr(arg));
}

std::string ErrorText(int32_t code, int32_t arg) {
    std::string text;
    if (ErrorObj != nullptr)
        ErrorObj->GetErrorText(code, arg, text);
    else
        TDriverErrorClass().GetErrorText(code, arg, text);
    return text;
}

void Report(int32_t code, const std::string& text) {
    if (ErrorObj != nullptr) ErrorObj->WriteMessage(code, text);
}

void TDriverErrorClass::Deliver(int32_t code, const std::string& logText) {
    TDriverErrorRecord record;
    std::memset(&record, 0, sizeof record);
    record.Size = sizeof record;
    record.Time = platform::Now();
    record.Code = code;
    const std::size_t n = logText.size() < kMaxRecordText ? logText.size() : kMaxRecordText;
    std::memcpy(record.Text, logText.data(), n);
    AddToLog(code, logText);
    const platform::HWND wnd = LogWindowHandle.load();
    if (wnd != 0)
        platform::SendMessage(wnd, WM_DRIVERERROR, DRIVER_ERROR_WPARAM,
                              reinterpret_cast<platform::LPARAM>(&record));
}

void TDriverErrorClass::WriteError(int32_t code, int32_t arg, const std::exception* e) {
    if (!Enabled || (code == 0 && e == nullptr)) return;
    try {
        std::string text;
        if (e != nullptr)
            text = e->what();
        else
            GetErrorText(code, arg, text);
        if (text.size() > kMaxRecordText) text.resize(kMaxRecordText);
        Deliver(code, text);
    } catch (...) {
        // A report must never take its reporter down.
    }
}

void TDriverErrorClass::WriteMessage(int32_t code, const std::string& text) {
    if (!Enabled) return;
    try {
        Deliver(code, text);
    } catch (...) {
    }
}

} // namespace framework
