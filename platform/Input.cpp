#include "platform/Input.h"

#include <algorithm>
#include <cctype>

#include "platform/Json.h"
#include "platform/Requests.h"
#include "platform/Window.h"

namespace platform {
namespace {

constexpr const char* kInputEvent = "input";

bool Send(const InputRequest& request, DWORD timeoutMs, std::string* error) {
  int pid = WindowProcess(request.hwnd);
  if (pid == 0) {
    *error = "the window has gone";
    return false;
  }
  Json payload = {{"hwnd", request.hwnd}};
  if (request.tap) {
    payload["x"] = request.x;
    payload["y"] = request.y;
  } else {
    payload["key"] = std::string(PhoneKeyName(request.key));
  }
  return AskProcess(pid, kInputEvent, JsonText(payload), timeoutMs, error);
}

std::optional<InputRequest> Parse(const std::string& text) {
  auto json = ParseJson(text);
  if (!json || !json->is_object())
    return std::nullopt;
  InputRequest request;
  auto hwnd = json->find("hwnd");
  if (hwnd == json->end() || !hwnd->is_number_unsigned())
    return std::nullopt;
  request.hwnd = hwnd->get<HWND>();
  auto key = json->find("key");
  auto x = json->find("x");
  auto y = json->find("y");
  if (key != json->end() && key->is_string()) {
    auto parsed = PhoneKeyFromName(key->get<std::string>());
    if (!parsed)
      return std::nullopt;
    request.key = *parsed;
    return request;
  }
  if (x == json->end() || y == json->end() || !x->is_number_integer() || !y->is_number_integer())
    return std::nullopt;
  request.tap = true;
  request.x = x->get<int>();
  request.y = y->get<int>();
  return request;
}

}  // namespace

std::optional<PhoneKey> PhoneKeyFromName(std::string_view name) {
  for (std::size_t i = 0; i < kPhoneKeyNames.size(); ++i) {
    std::string_view known = kPhoneKeyNames[i];
    if (known.size() == name.size() &&
        std::equal(known.begin(), known.end(), name.begin(), [](char a, char b) {
          return a == std::tolower(static_cast<unsigned char>(b));
        })) {
      return static_cast<PhoneKey>(i);
    }
  }
  return std::nullopt;
}

std::string_view PhoneKeyName(PhoneKey key) {
  return kPhoneKeyNames.at(static_cast<std::size_t>(key));
}

bool TapScreen(int x, int y, DWORD timeoutMs, std::string* error) {
  InputRequest request;
  request.hwnd = WindowFromPoint(x, y);
  if (!request.hwnd) {
    *error = "no window at " + std::to_string(x) + "," + std::to_string(y) + " on the screen";
    return false;
  }
  request.tap = true;
  request.x = x;
  request.y = y;
  return Send(request, timeoutMs, error);
}

bool PressKey(PhoneKey key, DWORD timeoutMs, std::string* error) {
  InputRequest request;
  request.hwnd = ActiveWindow();
  if (!request.hwnd) {
    *error = "no active window on the screen";
    return false;
  }
  request.key = key;
  return Send(request, timeoutMs, error);
}

int ServeInput(std::function<void(std::uint64_t id, const InputRequest& request)> onInput) {
  return ServeRequests(
      kInputEvent, [onInput = std::move(onInput)](std::uint64_t id, const std::string& payload) {
        if (auto request = Parse(payload)) {
          onInput(id, *request);
        } else {
          CompleteInput(id, "malformed input request");
        }
      });
}

void CompleteInput(std::uint64_t id, const std::string& error) {
  AnswerRequest(kInputEvent, id, error);
}

}  // namespace platform
