#pragma once

#include <cstddef>
#include <cstdint>

// What the converting process and the background-removal helper say to each other over the
// socket that is the helper's standard input and output. Both ends are the same build on the
// same machine: numbers go in the machine's own byte order.
//
//   to the helper:   'L'                      load the network (the helper starts on it anyway)
//                    'R' + 1024·1024·3 bytes  mask these RGB pixels
//   from the helper: 'K'                      done ('L')
//                    'M' + 1024·1024 floats   the mask ('R')
//                    'E' + uint32 n + n bytes of UTF-8: why it failed
// The helper leaves when its input ends.
namespace RemovalProtocol {

inline constexpr char kLoad = 'L';
inline constexpr char kRemove = 'R';
inline constexpr char kDone = 'K';
inline constexpr char kMask = 'M';
inline constexpr char kError = 'E';

inline constexpr uint32_t kMaxErrorBytes = 64 * 1024;

// The helper's file name, looked up where the media modules are.
inline constexpr char kHelperFileName[] = "perchbox-remove-background";

// The whole of `size` bytes, or false at the end of the stream or on an error. Writing to a
// socket whose peer is gone fails rather than raising SIGPIPE.
bool readFully(int fd, void *data, size_t size);
bool writeFully(int fd, const void *data, size_t size);

} // namespace RemovalProtocol
