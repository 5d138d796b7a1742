// Publications on several threads at once, as the player may send a
// notification while the status timer ticks: two threads publish tracks of
// their own, a third feeds audio blocks, a fourth runs monitor ticks and
// rebuilds the version text. Run under ThreadSanitizer, which reports any
// unguarded access to the shared record; the checks below catch a record
// whose two lines came from two different publications.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "fakes/fakes.h"
#include "monitor/playback_monitor.h"
#include "plugin/plugin_state.h"
#include "presence/composer.h"
#include "presence/publisher.h"

namespace {

const int64_t Now = 1700000000;
const int TracksPerThread = 8;
const int PublicationsPerThread = 3000;
const int PublishingThreads = 2;
const int MonitorThread = PublishingThreads;  // its tracks follow the publishers'

// A track's texts, kept alive for the thread that reads them.
struct OwnedTrack {
    std::string title;
    std::string album;
    std::string date;
    fake::Track track;
};

std::vector<OwnedTrack> MakeTracks(int thread) {
    std::vector<OwnedTrack> tracks(TracksPerThread);
    for (int k = 0; k < TracksPerThread; k++) {
        OwnedTrack& owned = tracks[static_cast<size_t>(k)];
        owned.title = "Title " + std::to_string(thread) + "-" + std::to_string(k);
        owned.album = "Album " + std::to_string(thread) + "-" + std::to_string(k);
        owned.date = std::to_string(1990 + k);
        owned.track =
            fake::Track{owned.title.c_str(), "300", owned.album.c_str(), owned.date.c_str(), "MP3", 10.0 + k};
    }
    return tracks;
}

struct Tally {
    std::atomic<int> fromPublishers{0};
    std::atomic<int> mismatches{0};
};

void Mismatch(Tally* tally, const fake::RecordedPresence& record, const char* why) {
    if (tally->mismatches.fetch_add(1) < 10) {
        std::fprintf(stderr, "mismatched record (%s): details \"%s\", state \"%s\", badge %s\n", why,
                     record.details.text, record.state.text, record.smallImageKey.text);
    }
}

// Every record must carry the two lines of one track, the badge's own text,
// the clock of that track, and a whole version text.
void CheckRecord(const fake::RecordedPresence& record, void* context) {
    Tally* tally = static_cast<Tally*>(context);
    int thread = -1;
    int k = -1;
    // NOLINTNEXTLINE(cert-err34-c): the test's own "Title <thread>-<k>", with small numbers
    if (std::sscanf(record.details.text, "Title %d-%d", &thread, &k) != 2) {
        Mismatch(tally, record, "details");
        return;
    }
    const std::string expectedState =
        "Album " + std::to_string(thread) + "-" + std::to_string(k) + " (" + std::to_string(1990 + k) + ")";
    if (record.state.text != expectedState) Mismatch(tally, record, "state from another track");
    const std::string key = record.smallImageKey.text;
    const std::string text = record.smallImageText.text;
    if (key == "play") {
        if (text != "Playing" || record.endTimestamp != Now + 300 - (10 + k) || record.startTimestamp != 0) {
            Mismatch(tally, record, "playing badge or clock");
        }
    } else if (key == "pause") {
        if (text != "Paused" || record.endTimestamp != 0 || record.startTimestamp != 0) {
            Mismatch(tally, record, "paused badge or clock");
        }
    } else {
        Mismatch(tally, record, "badge");
    }
    const std::string large = record.largeImageText.text;
    if (large != "XMPlay" && large != "XMPlay v3.8.5.0") Mismatch(tally, record, "version text");
    if (record.details.pointer != detailsBuffer || record.state.pointer != stateBuffer) {
        Mismatch(tally, record, "pointers");
    }
    if (thread < PublishingThreads) tally->fromPublishers.fetch_add(1);
}

void Publish(const XMPDSP* dsp, int thread) {
    std::vector<OwnedTrack> tracks = MakeTracks(thread);
    for (int i = 0; i < PublicationsPerThread; i++) {
        fake::SetThreadTrack(&tracks[static_cast<size_t>(i % TracksPerThread)].track);
        switch (i % 4) {
        case 0: PublishCurrentTrack(); break;
        case 1: PublishPlaybackState(Paused); break;
        case 2: dsp->NewTitle(nullptr, "ignored"); break;
        default: dsp->Reset(nullptr); break;
        }
    }
    fake::SetThreadTrack(nullptr);
}

TEST(PublicationStress, RecordsNeverMixTwoPublications) {
    fake::Reset();
    fake::SetVersion(0x03080500u);
    fake::SetWallClock(Now);
    fake::SetPlaying(1);
    const XMPDSP* dsp = fake::BindPlugin();
    dsp->New();
    Tally tally;
    fake::SetPresenceObserver(CheckRecord, &tally);

    std::atomic<bool> done{false};
    std::thread audio([dsp, &done] {
        while (!done.load()) dsp->Process(nullptr, nullptr, 0);
    });
    std::thread monitor([&done] {
        std::vector<OwnedTrack> tracks = MakeTracks(MonitorThread);
        for (int i = 0; !done.load(); i++) {
            fake::SetThreadTrack(&tracks[static_cast<size_t>(i % TracksPerThread)].track);
            RunMonitorTick();
            UpdateVersionText(i % 2);
            std::this_thread::yield();
        }
        fake::SetThreadTrack(nullptr);
    });
    std::vector<std::thread> publishers;
    publishers.reserve(PublishingThreads);
    for (int t = 0; t < PublishingThreads; t++) publishers.emplace_back(Publish, dsp, t);
    for (std::thread& publisher : publishers) publisher.join();
    done.store(true);
    monitor.join();
    audio.join();

    fake::SetPresenceObserver(nullptr, nullptr);
    dsp->Free(nullptr);
    EXPECT_EQ(tally.mismatches.load(), 0);
    EXPECT_EQ(tally.fromPublishers.load(), PublishingThreads * PublicationsPerThread);
    EXPECT_TRUE(fake::TextsBalanced());
}

}  // namespace
