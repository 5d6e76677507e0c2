// DSDIFF container: recognition and the DST-coded stream. Not supported yet:
// recognition fails, so no DST stream state is ever made.
#include "dsdfile/CDSDFile.h"

bool CDSDFile::OpenDsdiff() { return false; }

size_t CDSDFile::FillBlockFromDst(size_t) { return 0; }

bool CDSDFile::SeekDst(int64_t) { return false; }

double CDSDFile::DstDuration() const { return 0.0; }

void CDSDFile::DestroyDstStream() { dstStream_ = nullptr; }
