#include "audiofile.h"

#if defined(_WIN32)

bool ReadAudioFile(const std::string&, AudioClip*, std::string* error)
{
    *error = "this build of mrvhost reads no sound files; play a tone instead";
    return false;
}

bool WriteAudioFile(const std::string&, const AudioClip&, unsigned, std::string* error)
{
    *error = "this build of mrvhost writes no sound files";
    return false;
}

#else

#include <sndfile.h>

bool ReadAudioFile(const std::string& path, AudioClip* clip, std::string* error)
{
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file) {
        *error = path + ": " + sf_strerror(nullptr);
        return false;
    }
    // An hour of 8 channels at 192 kHz is the most a host run plays.
    const sf_count_t limit = sf_count_t(3600) * 192000 * 8;
    if (info.channels <= 0 || info.channels > 64 || info.frames < 0 || info.frames * info.channels > limit) {
        sf_close(file);
        *error = path + ": unreasonable length or channel count";
        return false;
    }
    clip->channels = unsigned(info.channels);
    clip->rate = info.samplerate;
    clip->samples.assign(size_t(info.frames * info.channels), 0);
    const sf_count_t read = sf_readf_int(file, clip->samples.data(), info.frames);
    sf_close(file);
    clip->samples.resize(size_t(read > 0 ? read : 0) * clip->channels);
    return true;
}

bool WriteAudioFile(const std::string& path, const AudioClip& clip, unsigned bits, std::string* error)
{
    SF_INFO info{};
    info.channels = int(clip.channels);
    info.samplerate = int(clip.rate);
    info.format = SF_FORMAT_WAV | (bits <= 16 ? SF_FORMAT_PCM_16 : bits <= 24 ? SF_FORMAT_PCM_24 : SF_FORMAT_PCM_32);
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) {
        *error = path + ": " + sf_strerror(nullptr);
        return false;
    }
    const sf_count_t frames = sf_count_t(clip.Frames());
    const bool written = sf_writef_int(file, clip.samples.data(), frames) == frames;
    if (!written) *error = path + ": " + sf_strerror(file);
    sf_close(file);
    return written;
}

#endif
