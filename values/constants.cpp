#include "values/constants.h"

#include "values/memory.h"

namespace {

// One object, so that one registered range covers every constant. It is
// const and constant-initialised: it lands in the read-only data section.
struct ProgramConstants {
  ByteBuffer empty_head;  // {1, 0}: empty ByteBuffer and empty TextArray
  char space[2];
  char twenty[3];
  char dash[2];
  char zero[2];
  char colon[2];
  char comma[2];
  char empty[1];
};

constexpr ProgramConstants kConstants = {
    {1, 0}, " ", "20", "-", "0", ":", ",", "",
};

}  // namespace

const ByteBuffer& kEmptyByteBuffer = kConstants.empty_head;

const char* const kTextSpace = kConstants.space;
const char* const kTextTwenty = kConstants.twenty;
const char* const kTextDash = kConstants.dash;
const char* const kTextZero = kConstants.zero;
const char* const kTextColon = kConstants.colon;
const char* const kTextComma = kConstants.comma;
const char* const kTextEmpty = kConstants.empty;

const TextArray* EmptyTextArray() {
  // TextArray and ByteBuffer share the layout of the head {int32, int32}.
  return reinterpret_cast<const TextArray*>(&kConstants.empty_head);
}

void RegisterProgramConstants() {
  RegisterConstantRange(&kConstants, &kConstants + 1);
}
