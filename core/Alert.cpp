#include "core/Alert.h"

#include <cstdio>
#include <mutex>

#include "core/Log.h"

namespace tandem {
namespace {

std::mutex& alertMutex() {
    static std::mutex m;
    return m;
}

std::function<void(const std::string&)>& alertHandler() {
    static std::function<void(const std::string&)> h;
    return h;
}

}  // namespace

void ShowAlert(const std::string& text) {
    AddLog(text);
    std::function<void(const std::string&)> handler;
    {
        std::lock_guard lock(alertMutex());
        handler = alertHandler();
    }
    if (handler) {
        handler(text);
    } else {
        std::fprintf(stderr, "tandem: %s\n", text.c_str());
    }
}

void SetAlertHandler(std::function<void(const std::string&)> handler) {
    std::lock_guard lock(alertMutex());
    alertHandler() = std::move(handler);
}

}  // namespace tandem
