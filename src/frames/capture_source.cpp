#include "frames/capture_source.h"

#include "platform/fs.h"
#include "platform/log.h"

namespace vexo {

namespace {

// How long to wait for a game to write more of its recording.
constexpr int kCaptureWaitMs = 10;

} // namespace

bool CaptureSource::Appeared() const {
    return !file_.empty() && platform::FileExists(file_);
}

bool CaptureSource::TakeAll(FrameFeed& feed) {
    // The engine ends a recording file before it grows past 2 GB and goes on in a new one,
    // named after the last with "_" appended: they are taken in turn.
    std::unique_ptr<SoundFit> sound;
    bool first = true;
    for (std::string file = file_; first || platform::FileExists(file); file += '_') {
        const std::string next = file + '_';
        media::GameCaptureReader::Waits waits;
        // A file is complete once the game has ended or has gone on in the next one.
        waits.writerDone = [&feed, next] { return feed.GameEnded() || platform::FileExists(next); };
        waits.cancelled = [&feed] { return feed.Stopping(); };
        waits.pause = [&feed] { feed.Pause(kCaptureWaitMs); };
        // Read while the game writes it, the file gives back the disk space of what has
        // been taken, so that it holds little more than the frames not yet taken.
        const std::unique_ptr<media::GameCaptureReader> capture =
            media::GameCaptureReader::Open(file, std::move(waits), Release, nullptr);
        if (!capture)
            break; // no capture the game got to write: no frames from it
        // The game's sound goes with its frames as the video's second stream.
        if (first && feed.HasWriter() && capture->Sound())
            sound = AddSound(feed, *capture->Sound());
        first = false;
        if (!TakeFile(feed, *capture, file.substr(file.find_last_of(platform::kPathSep) + 1),
                      sound.get()))
            return false;
        if (feed.Stopping())
            break;
    }
    if (sound && !sound->Finish())
        return feed.Fail("Error writing AVI frame to output file.");
    return true;
}

std::unique_ptr<SoundFit> CaptureSource::AddSound(FrameFeed& feed,
                                                  const media::CaptureSound& sound) {
    CAviFile& writer = feed.Output();
    const double engineRate = engineFrameRate_ > 0 ? engineFrameRate_ : writer.Fps;
    std::string why;
    // Each picture is a part of a video frame when the pictures are blended into frames.
    std::unique_ptr<SoundFit> fit = SoundFit::Create(
        sound, engineRate, writer.Fps * feed.PicturesPerFrame(),
        [&writer](const uint8_t* data, int32_t bytes) { return writer.WriteSound(data, bytes); },
        &why);
    if (!fit) {
        platform::LogFailure("collector", "the video has no sound: " + why);
        return nullptr;
    }
    if (!writer.AddSound(sound.samplesPerSecond, sound.channels, sound.bitsPerSample))
        return nullptr;
    return fit;
}

bool CaptureSource::TakeFile(FrameFeed& feed, media::GameCaptureReader& capture,
                             const std::string& name, SoundFit* sound) {
    for (;;) {
        switch (capture.Next()) {
        case media::GameCaptureReader::Item::Picture: {
            if (!feed.HasWriter())
                return feed.Fail("Internal error. Aborting.");
            feed.Report(FrameProgress::Step::Writing, feed.FramesTaken(), name);
            Frame frame;
            frame.picture = &capture.Picture();
            if (!feed.Deliver(frame))
                return feed.Fail("Error writing AVI frame to output file.");
            if (sound && !sound->Picture())
                return feed.Fail("Error writing AVI frame to output file.");
            break;
        }
        case media::GameCaptureReader::Item::Sound:
            if (sound && !sound->Sound(capture.SoundData(), capture.SoundBytes()))
                return feed.Fail("Error writing AVI frame to output file.");
            break;
        case media::GameCaptureReader::Item::End:
        case media::GameCaptureReader::Item::Cancelled:
            return true;
        case media::GameCaptureReader::Item::Error:
            return feed.Fail("Error reading the video the game recorded.");
        }
    }
}

} // namespace vexo
