#pragma once

#include <cstdint>
#include <memory>
#include <string>

// The salient-object network behind "Remove background" (OpenCV's DNN module), without
// anything of the image pipeline around it: 1024 × 1024 RGB bytes in, a mask of as many
// floats (0 = background, 1 = subject) out. Used in the helper process that runs removals
// and, where that helper cannot be started, in the converting process itself.
//
// Not thread-safe: one caller at a time.
class SegmentationNetwork
{
public:
    static constexpr int kSide = 1024; // the network's input and output size
    static constexpr size_t kInputBytes = size_t(kSide) * kSide * 3;
    static constexpr size_t kMaskFloats = size_t(kSide) * kSide;

    SegmentationNetwork();
    ~SegmentationNetwork();
    SegmentationNetwork(const SegmentationNetwork &) = delete;
    SegmentationNetwork &operator=(const SegmentationNetwork &) = delete;

    // Reads the model at `path` unless it is loaded already. False, with the reason, when
    // the file cannot be read or is not a network OpenCV can run.
    bool load(const std::string &path, std::string *error);
    bool isLoaded() const;
    // `rgb`: kInputBytes, rows of R, G, B bytes. `mask`: kMaskFloats. Loads first when needed.
    bool run(const std::string &path, const uint8_t *rgb, float *mask, std::string *error);
    // Frees the network and gives its memory back to the system.
    void release();

private:
    struct State;
    std::unique_ptr<State> d;
};
