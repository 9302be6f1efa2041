// The program's fixed short texts and the constant empty head {1, 0}, which
// the logic passes around in place of fresh blocks. They all lie in one
// read-only object whose range start-up registers, so ReleaseBlock leaves a
// reference to any of them alone and a handler may release what it holds
// without asking where it came from.
//
// Read-only after start-up: any thread may read them.
#pragma once

#include "values/text.h"

extern const char* const kTextSpace;   // " "
extern const char* const kTextTwenty;  // "20"
extern const char* const kTextDash;    // "-"
extern const char* const kTextZero;    // "0"
extern const char* const kTextColon;   // ":"
extern const char* const kTextComma;   // ",": the default delimiter of SplitText
extern const char* const kTextEmpty;   // ""

// The constant empty TextArray: the same {1, 0} head as kEmptyByteBuffer.
// It is read-only: pass it where a present array is read, never fill it.
const TextArray* EmptyTextArray();

// Registers the range of the object above with RegisterConstantRange. Start-up
// calls it once, before a second thread exists; calling it again adds nothing.
void RegisterProgramConstants();
