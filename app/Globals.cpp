#include "app/Globals.h"

#include "platform/runtime/threads/Threads.h"

namespace {
struct ThreadGlobals {
  std::uint8_t request = 0;
  std::uint8_t response = 0;
  std::int32_t vcrRequest = 0;
};
rt::ThreadLocal<ThreadGlobals>& Globals() {
  static rt::ThreadLocal<ThreadGlobals> globals;
  return globals;
}
}  // namespace

std::uint8_t& GlobalRequest() {
  return Globals()->request;
}
std::uint8_t& GlobalResponse() {
  return Globals()->response;
}
std::int32_t& VCRRequest() {
  return Globals()->vcrRequest;
}

void ClearThreadGlobals() {
  GlobalRequest() = 0;
  GlobalResponse() = 0;
  VCRRequest() = 0;
}
