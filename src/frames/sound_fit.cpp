#include "frames/sound_fit.h"

#include <algorithm>
#include <cmath>

#include "platform/log.h"

namespace vexo {

namespace {

// Silence pushed through the filter at the end, and padding, this many samples at a time.
constexpr int64_t kSilenceChunk = 4096;

} // namespace

double SoundFit::SoundFrameRate(double engineFrameRate) {
    return std::min(engineFrameRate, 1000.0);
}

double SoundFit::Tempo(double engineFrameRate, int32_t aviRate) {
    return aviRate / SoundFrameRate(engineFrameRate);
}

SoundFit::SoundFit(const media::CaptureSound& format, double engineFrameRate, int32_t aviRate,
                   Sink sink)
    : format_(format), block_(format.channels * format.bitsPerSample / 8), aviRate_(aviRate),
      samplesPerFrame_(format.samplesPerSecond / SoundFrameRate(engineFrameRate)),
      speed_(Tempo(engineFrameRate, aviRate)), sink_(std::move(sink)) {}

std::unique_ptr<SoundFit> SoundFit::Create(const media::CaptureSound& format,
                                           double engineFrameRate, int32_t aviRate, Sink sink,
                                           std::string* why) {
    if (!(engineFrameRate > 0) || aviRate <= 0) {
        *why = "the frame rates are not known";
        return nullptr;
    }
    if (format.samplesPerSecond <= 0 || format.channels < 1 ||
        (format.bitsPerSample != 8 && format.bitsPerSample != 16)) {
        *why = "the sound's format is not PCM of 8 or 16 bits";
        return nullptr;
    }
    std::unique_ptr<SoundFit> fit(new SoundFit(format, engineFrameRate, aviRate, std::move(sink)));
    // At the picture's own speed the sound is copied as it is.
    if (std::abs(fit->speed_ - 1.0) > 1e-9 &&
        !(fit->tempo_ = media::SoundTempo::Create(format, fit->speed_, why)))
        return nullptr;
    return fit;
}

int64_t SoundFit::Covered(int64_t pictures) const {
    return pictures * format_.samplesPerSecond / aviRate_;
}

bool SoundFit::Sound(const uint8_t* data, int32_t bytes) {
    const int64_t samples = bytes / block_;
    if (pictures_ > 0) {
        Stretch(data, samples);
        return Release(Covered(pictures_));
    }
    // Before the first picture only the last frame's worth is kept: the rest is lead-in.
    before_ += samples;
    early_.insert(early_.end(), data, data + samples * block_);
    const auto keep = static_cast<size_t>(std::ceil(samplesPerFrame_) + 1) * block_;
    if (early_.size() > keep)
        early_.erase(early_.begin(), early_.end() - static_cast<ptrdiff_t>(keep));
    return true;
}

bool SoundFit::Picture() {
    if (pictures_ == 0) {
        leadIn_ = std::clamp<int64_t>(std::llround(before_ - samplesPerFrame_), 0, before_);
        const size_t bytes =
            std::min(early_.size(), static_cast<size_t>(before_ - leadIn_) * block_);
        Stretch(early_.data() + early_.size() - bytes, static_cast<int64_t>(bytes) / block_);
        early_ = {};
    }
    ++pictures_;
    return Release(Covered(pictures_));
}

void SoundFit::Stretch(const uint8_t* data, int64_t samples) {
    if (samples <= 0 || filterFailed_)
        return;
    const size_t before = pending_.size();
    if (!tempo_) {
        pending_.insert(pending_.end(), data, data + samples * block_);
    } else {
        std::string why;
        if (!tempo_->Push(data, static_cast<int32_t>(samples * block_), &pending_, &why)) {
            filterFailed_ = true;
            platform::LogFailure("collector", "the sound is silence from picture " +
                                                  std::to_string(pictures_) + " on: " + why);
        }
    }
    made_ += static_cast<int64_t>(pending_.size() - before) / block_;
}

bool SoundFit::Release(int64_t upTo) {
    const int64_t ready = static_cast<int64_t>(pending_.size() - pendingStart_) / block_;
    const int64_t count = std::min(upTo - written_, ready);
    if (count <= 0)
        return true;
    const bool stored =
        sink_(pending_.data() + pendingStart_, static_cast<int32_t>(count * block_));
    pendingStart_ += static_cast<size_t>(count * block_);
    written_ += count;
    // What has been handed over goes once it is the larger part.
    if (pendingStart_ > pending_.size() / 2) {
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<ptrdiff_t>(pendingStart_));
        pendingStart_ = 0;
    }
    return stored;
}

bool SoundFit::Finish() {
    if (pictures_ == 0)
        return true; // no picture, no sound
    const int64_t target = Covered(pictures_);
    const std::vector<uint8_t> silence(static_cast<size_t>(kSilenceChunk * block_),
                                       media::SilenceByte(format_.bitsPerSample));
    // The filter still holds the end of the sound: silence after it brings it out, and
    // a second's worth more than the picture needs is plenty.
    if (tempo_) {
        int64_t budget =
            std::llround(std::max<int64_t>(target - made_, 0) * speed_) + format_.samplesPerSecond;
        while (made_ < target && budget > 0 && !filterFailed_) {
            Stretch(silence.data(), kSilenceChunk);
            budget -= kSilenceChunk;
        }
    }
    if (!Release(target))
        return false;
    while (written_ < target) {
        const int64_t count = std::min(target - written_, kSilenceChunk);
        if (!sink_(silence.data(), static_cast<int32_t>(count * block_)))
            return false;
        written_ += count;
    }
    pending_ = {};
    pendingStart_ = 0;
    return true;
}

} // namespace vexo
