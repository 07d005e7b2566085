// Message blocks and the printed-line sink.
#include <cstdarg>
#include <cstdio>

#include "host/state.h"

namespace vokip_host {

void print_line(const std::string& line) {
  state().printed.push_back(line);
  if (state().echo) std::fprintf(stderr, "%s\n", line.c_str());
}

const std::vector<std::string>& printed() {
  return state().printed;
}
void clear_printed() {
  state().printed.clear();
}
void echo_to_stderr(bool on) {
  state().echo = on;
}
void refuse_message_block(bool refuse) {
  state().refuse_block = refuse;
}

std::vector<BlockMessage> message_block(const std::string& block_name) {
  std::vector<BlockMessage> out;
  for (const auto& b : state().blocks) {
    if (b->name != block_name) continue;
    for (std::size_t k = 0; k < b->names.size(); ++k) out.push_back({b->names[k], b->formats[k]});
  }
  return out;
}

namespace {

// "%N" becomes the issuing routine's name and a colon; the module's formats
// use no other conversions.
std::string format_line(const std::string& format) {
  std::string out;
  for (std::size_t k = 0; k < format.size(); ++k) {
    if (format[k] == '%' && k + 1 < format.size() && format[k + 1] == 'N') {
      if (!state().current_routine.empty()) out += state().current_routine + ": ";
      ++k;
    } else {
      out += format[k];
    }
  }
  return out;
}

}  // namespace
}  // namespace vokip_host

using vokip_host::state;

extern "C" {

IDL_MSG_BLOCK IDL_MessageDefineBlock(char* block_name, int n, IDL_MSG_DEF* defs) {
  if (state().refuse_block) return nullptr;
  auto block = std::make_unique<vokip_host::MessageBlock>();
  if (state().mode == vokip_host::Mode::idl) {
    block->name = block_name;
    for (int k = 0; k < n; ++k) {
      block->names.push_back(defs[k].name);
      block->formats.push_back(defs[k].format);
    }
  }
  state().blocks.push_back(std::move(block));
  return state().blocks.back().get();
}

void IDL_MessageFromBlock(IDL_MSG_BLOCK block, int code, int action, ...) {
  std::string line;
  if (state().mode == vokip_host::Mode::open) {
    // The open host prints its first format argument and nothing else.
    va_list args;
    va_start(args, action);
    const char* text = va_arg(args, const char*);
    va_end(args);
    line = std::string("% ") + (text ? text : "");
  } else {
    auto* b = static_cast<vokip_host::MessageBlock*>(block);
    const int index = -code;
    bool known = false;
    for (auto& owned : state().blocks) known = known || owned.get() == b;
    if (!known || index < 0 || index >= static_cast<int>(b->formats.size())) {
      line = "% Message code " + std::to_string(code) + " is not in the block.";
    } else {
      line = "% " + vokip_host::format_line(b->formats[index]);
    }
  }
  vokip_host::print_line(line);
  (void)action;  // every action prints; the module only uses IDL_MSG_INFO
}

}  // extern "C"
