// Sound files for the host's play and record commands: samples held
// interleaved at 32-bit full scale, whatever the file stores.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct AudioClip {
    unsigned channels = 0;
    double rate = 0;
    std::vector<int32_t> samples;  // interleaved
    size_t Frames() const { return channels ? samples.size() / channels : 0; }
};

// False with *error set when the file cannot be read or written; the
// Windows image of the host has no sound-file library and says so.
bool ReadAudioFile(const std::string& path, AudioClip* clip, std::string* error);
bool WriteAudioFile(const std::string& path, const AudioClip& clip, unsigned bits, std::string* error);
