// Disc-image tracks: opening a track of the image, its bytes, seeking and
// duration. Not supported yet: opening fails, so no image object is ever made.
#include "dsdfile/CDSDFile.h"

bool CDSDFile::OpenSacdTrack(int32_t) { return false; }

size_t CDSDFile::FillBlockFromSacd(size_t) { return 0; }

bool CDSDFile::SeekSacd(double) { return false; }

double CDSDFile::SacdDuration() const { return 0.0; }

void CDSDFile::DestroySacd() { sacd_ = nullptr; }
