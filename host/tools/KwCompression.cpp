#include <zlib.h>

#include <new>

#include "host/tools/KwToolsImpl.h"

// Inflates one zlib stream (header, deflate data, checksum). The whole stream
// must be present and must fit the destination.
bool KwZlibDecompressor::Decompress(const void* source, uint32_t sourceLength, void* destination,
                                    uint32_t* destinationLength) {
    if (!destinationLength) return false;
    const uint32_t room = *destinationLength;
    *destinationLength = 0;
    if (!source || sourceLength == 0 || (!destination && room > 0)) return false;
    unsigned char spare = 0;
    z_stream stream{};
    stream.next_in = static_cast<Bytef*>(const_cast<void*>(source));
    stream.avail_in = sourceLength;
    stream.next_out = room ? static_cast<Bytef*>(destination) : &spare;
    stream.avail_out = room;
    if (inflateInit(&stream) != Z_OK) return false;
    const int result = inflate(&stream, Z_FINISH);
    const uint32_t written = room - stream.avail_out;
    inflateEnd(&stream);
    if (result != Z_STREAM_END) return false;
    *destinationLength = written;
    return true;
}

IKwDecompressor* KwZlibCompression::CreateDecompressor() { return new (std::nothrow) KwZlibDecompressor; }
