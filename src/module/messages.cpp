#include "module/messages.h"

#include <array>
#include <string>

namespace {

// Formats begin with %N, which the host replaces by "NAME: ".
IDL_MSG_DEF kMessages[kMessageCount] = {
    {const_cast<char*>("GREETING"),
     const_cast<char*>("%NWelcome to MAR image plate unpck routine.")},
    {const_cast<char*>("END"), const_cast<char*>("%NGoodbye!.")},
    {const_cast<char*>("DISTORTGREET"), const_cast<char*>("%NCalculating image plate distortion.")},
    {const_cast<char*>("AZIMGREET"), const_cast<char*>("%NCalculating image plate azimuths.")},
    {const_cast<char*>("TCHGREET"), const_cast<char*>("%NRefining profile.")},
    {const_cast<char*>("TRUNCATED"),
     const_cast<char*>("%NPacked stream ended before the image was complete.")},
    {const_cast<char*>("OUTTYPE"),
     const_cast<char*>(
         "%NOutput argument is not an array of the required type; nothing was computed.")},
    {const_cast<char*>("SHORTARRAY"),
     const_cast<char*>("%NInput arrays are shorter than required; elements without input were "
                       "not computed.")},
};

IDL_MSG_BLOCK block = nullptr;

using FinishedTexts = std::array<std::array<std::string, kMessageCount>, kRoutineCount>;

// Every (routine, message) line, built once on first use.
const FinishedTexts& finished_texts() {
  static const FinishedTexts texts = [] {
    FinishedTexts t;
    for (int r = 0; r < kRoutineCount; ++r) {
      for (int m = 0; m < kMessageCount; ++m) {
        std::string format = kMessages[m].format;
        t[r][m] = std::string(routine_name(static_cast<Routine>(r))) + ": " + format.substr(2);
      }
    }
    return t;
  }();
  return texts;
}

}  // namespace

IDL_MSG_BLOCK define_messages() {
  finished_texts();
  block = IDL_MessageDefineBlock(const_cast<char*>("vok"), kMessageCount, kMessages);
  return block;
}

const char* finished_message(int code, Routine caller) {
  return finished_texts()[static_cast<int>(caller)][-code].c_str();
}

void issue_message(int code, Routine caller) {
  IDL_MessageFromBlock(block, code, IDL_MSG_INFO, finished_message(code, caller));
}

const IDL_MSG_DEF* message_table() {
  return kMessages;
}
