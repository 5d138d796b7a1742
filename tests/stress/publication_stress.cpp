// Everything the player's threads can do at once, for a few seconds: two
// threads publish tracks of their own through every notification, a third
// feeds audio blocks, a fourth runs monitor ticks and rebuilds the version
// text, and a fifth restores settings blocks of every size from 0 to 16,
// reads them back, and stores the dialog's OK decisions. Run under
// ThreadSanitizer, which reports any unguarded access to what the threads
// share; the checks below catch a record whose parts came from two
// publications, and a settings block that is not one the threads stored.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "fakes/fakes.h"
#include "monitor/playback_monitor.h"
#include "plugin/plugin_state.h"
#include "presence/composer.h"
#include "presence/publisher.h"
#include "settings/dialog_choices.h"
#include "settings/resource_ids.h"

namespace {

const int64_t Now = 1700000000;
const int TracksPerThread = 8;
const int PublishingThreads = 2;
const int MonitorThread = PublishingThreads;  // its tracks follow the publishers'
const std::chrono::seconds RunTime{3};
// The clock moves this far at each tick: a quarter of the wait between two updates.
const uint32_t TickClockMs = 4000;
// The settings block offered to SetConfig: flags of 0 or 1 and a clock mode
// of 0 to 3 (3 acts as elapsed time), whose high-order bytes are zero like
// those of every word the threads store, so that a block cut short anywhere
// still holds words of those ranges; four bytes more for sizes up to 16.
const size_t OfferedBlockSize = 16;

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
    std::atomic<int> badBlocks{0};
};

void Mismatch(Tally* tally, const fake::RecordedPresence& record, const char* why) {
    if (tally->mismatches.fetch_add(1) < 10) {
        std::fprintf(stderr, "mismatched record (%s): details \"%s\", state \"%s\", badge %s\n", why,
                     record.details.text, record.state.text, record.smallImageKey.text);
    }
}

// A playing clock of track k: the remaining time's end, the elapsed time's
// start, or none, whichever clock mode the publication read.
bool PlayingClockOf(const fake::RecordedPresence& record, int k) {
    if (record.startTimestamp == 0 && record.endTimestamp == 0) return true;
    // A track just opened shows its clock from 0, any other from where it plays.
    for (const int64_t position : {static_cast<int64_t>(10 + k), static_cast<int64_t>(0)}) {
        if (record.startTimestamp == 0 && record.endTimestamp == Now + 300 - position) return true;
        if (record.startTimestamp == Now - position && record.endTimestamp == 0) return true;
    }
    return false;
}

// Every record must carry the two lines of one track (dated or not, as the
// flag read), the badge's own text, a clock of that track, and a whole
// version text.
void CheckRecord(const fake::RecordedPresence& record, void* context) {
    Tally* tally = static_cast<Tally*>(context);
    int thread = -1;
    int k = -1;
    // NOLINTNEXTLINE(cert-err34-c): the test's own "Title <thread>-<k>", with small numbers
    if (std::sscanf(record.details.text, "Title %d-%d", &thread, &k) != 2) {
        Mismatch(tally, record, "details");
        return;
    }
    const std::string album = "Album " + std::to_string(thread) + "-" + std::to_string(k);
    const std::string dated = album + " (" + std::to_string(1990 + k) + ")";
    if (record.state.text != album && record.state.text != dated)
        Mismatch(tally, record, "state from another track");
    const std::string key = record.smallImageKey.text;
    const std::string text = record.smallImageText.text;
    if (key == "play") {
        if (text != "Playing" || !PlayingClockOf(record, k))
            Mismatch(tally, record, "playing badge or clock");
    } else if (key == "pause") {
        if (text != "Paused" || record.endTimestamp != 0 || record.startTimestamp != 0) {
            Mismatch(tally, record, "paused badge or clock");
        }
    } else {
        Mismatch(tally, record, "badge");
    }
    const std::string large = record.largeImageText.text;
    if (large != "XMPlay" && large != "XMPlay v3.8.5.0") Mismatch(tally, record, "version text");
    if (record.details.address != AddressOf(detailsBuffer) ||
        record.state.address != AddressOf(stateBuffer)) {
        Mismatch(tally, record, "pointers");
    }
    if (thread < PublishingThreads) tally->fromPublishers.fetch_add(1);
}

// Publishes this thread's tracks through every way the player can ask for
// it, until told to stop; returns how many publications it made.
int Publish(const XMPDSP* dsp, int thread, const std::atomic<bool>* done) {
    std::vector<OwnedTrack> tracks = MakeTracks(thread);
    int published = 0;
    for (int i = 0; !done->load(); i++, published++) {
        fake::SetThreadTrack(&tracks[static_cast<size_t>(i % TracksPerThread)].track);
        switch (i % 5) {
        case 0: PublishCurrentTrack(); break;
        case 1: PublishPlaybackState(Paused); break;
        case 2: dsp->NewTitle(nullptr, "ignored"); break;
        case 3: dsp->NewTrack(nullptr, "C:\\Music\\track.mp3"); break;
        default: dsp->Reset(nullptr); break;
        }
    }
    fake::SetThreadTrack(nullptr);
    return published;
}

// The dialog's controls as the settings thread's OK finds them: each button
// checked or not, from a bit pattern that changes with every OK.
thread_local uint32_t dialogButtons;

bool DialogButtonChecked(HostWindow, int32_t control) {
    return ((dialogButtons >> static_cast<uint32_t>(control - IDC_TIME_REMAINING)) & 1u) != 0;
}

// Restores settings blocks of every size, reads them back and presses OK,
// until told to stop. Every block read back must hold words the threads
// stored: flags of 0 or 1, a clock mode of 0 to 3.
void ChangeSettings(const XMPDSP* dsp, Tally* tally, const std::atomic<bool>* done) {
    uint8_t offered[OfferedBlockSize] = {};
    for (uint32_t i = 0; !done->load(); i++) {
        offered[0] = static_cast<uint8_t>(i & 1u);
        offered[4] = static_cast<uint8_t>((i >> 1) & 1u);
        offered[8] = static_cast<uint8_t>((i >> 2) & 3u);
        offered[12] = static_cast<uint8_t>(i);
        dsp->SetConfig(nullptr, offered, i % (OfferedBlockSize + 1));
        int32_t held[3] = {-1, -1, -1};
        dsp->GetConfig(nullptr, held);
        if (held[0] < 0 || held[0] > 1 || held[1] < 0 || held[1] > 1 || held[2] < 0 || held[2] > 3) {
            if (tally->badBlocks.fetch_add(1) < 10)
                std::fprintf(stderr, "settings block read back as %d %d %d\n", held[0], held[1], held[2]);
        }
        if (i % 3 == 0) {
            dialogButtons = i * 2654435761u;
            StoreDialogChoices(nullptr, DialogButtonChecked);
        }
        std::this_thread::yield();
    }
}

TEST(PublicationStress, RecordsNeverMixTwoPublicationsWhileSettingsChange) {
    fake::Reset();
    // Most publications come too soon after the last update and are held;
    // each tick moves the clock on, so that every fourth sends the held one.
    fake::StepClockAtUpdates(false);
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
            fake::AdvanceMonotonicMs(TickClockMs);
            RunMonitorTick();
            settings.showVersion = i % 2;
            UpdateVersionText();
            std::this_thread::yield();
        }
        fake::SetThreadTrack(nullptr);
    });
    std::thread settingsThread(ChangeSettings, dsp, &tally, &done);
    std::vector<int> published(PublishingThreads, 0);
    std::vector<std::thread> publishers;
    publishers.reserve(PublishingThreads);
    for (int t = 0; t < PublishingThreads; t++) {
        publishers.emplace_back(
            [dsp, t, &done, &published] { published[static_cast<size_t>(t)] = Publish(dsp, t, &done); });
    }
    std::this_thread::sleep_for(RunTime);
    done.store(true);
    for (std::thread& publisher : publishers) publisher.join();
    settingsThread.join();
    monitor.join();
    audio.join();

    fake::SetPresenceObserver(nullptr, nullptr);
    dsp->Free(nullptr);
    int expected = 0;
    for (int count : published) expected += count;
    EXPECT_GT(expected, 1000) << "the publishers hardly ran";
    EXPECT_EQ(tally.mismatches.load(), 0);
    EXPECT_EQ(tally.badBlocks.load(), 0);
    // A publication goes out at once, later from a tick, or not at all when
    // a newer one replaced it or the card showed it already.
    EXPECT_GT(tally.fromPublishers.load(), 100) << "hardly a publication went out";
    EXPECT_LE(tally.fromPublishers.load(), expected) << "a publication was sent twice";
    EXPECT_TRUE(fake::TextsBalanced());
}

}  // namespace
