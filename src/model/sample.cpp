// The built-in offline catalogue. Every page of the interface has content
// from it without any network; the developer modes use it too.
#include <utility>

#include "sarn/model/library.h"

namespace sarn {

namespace {

Channel channel(std::string id, std::string name, std::string handle, std::uint64_t subscribers, bool verified,
                std::string description) {
    Channel c;
    c.seed = id;
    c.id = std::move(id);
    c.name = std::move(name);
    c.handle = std::move(handle);
    c.subscribers = subscribers;
    c.verified = verified;
    c.description = std::move(description);
    return c;
}

Segment segment(SponsorCategory category, double start, double end, std::int64_t votes) {
    return Segment{category, start, end, votes};
}

Comment viewer(std::string author, std::string initials, std::string text, std::uint64_t likes, std::string time_ago,
               std::uint32_t replies) {
    return Comment{std::move(author), std::move(initials), std::move(text), likes, std::move(time_ago),
                   false, false, replies};
}

Comment from_channel(const Channel& channel, std::string initials, std::string text, std::uint64_t likes,
                     std::string time_ago, bool hearted, std::uint32_t replies) {
    return Comment{channel.name, std::move(initials), std::move(text), likes, std::move(time_ago), true, hearted,
                   replies};
}

struct VideoSpec {
    const char* id;
    std::size_t channel;
    const char* title;
    const char* crowd_title;  // null when there is none
    const char* category;
    const char* published;
    std::uint64_t views;
    std::uint64_t likes;
    std::uint32_t duration;
    const char* description;
};

}  // namespace

Library Library::sample() {
    using enum SponsorCategory;
    Library library;

    library.channels = {
        channel("ch_mesh", "Mesh & Mortar", "@meshmortar", 1'780'000, true,
                "Beginner-friendly 3D modelling, sculpting and rendering tutorials."),
        channel("ch_stack", "Stack Unwound", "@stackunwound", 742'000, true,
                "Systems programming, memory safety and how exploits really work."),
        channel("ch_quanta", "Quanta Drawn", "@quantadrawn", 22'300'000, true,
                "Animated explainers about space, biology and everything in between."),
        channel("ch_perimeter", "Quiet Perimeter", "@quietperimeter", 318'000, true,
                "Practical privacy and security advice for everyday devices."),
        channel("ch_cadence", "Cadence Notes", "@cadencenotes", 980'000, false,
                "Video essays about how music is written, recorded and heard."),
        channel("ch_dusk", "Dusk Tape Radio", "@dusktape", 2'100'000, false,
                "Lo-fi beats to study and unwind to, streaming around the clock."),
    };

    static const VideoSpec specs[] = {
        {"vid_rust_async", 1, "Async Rust Is NOT What You Think (Everything Changes)",
         "How async and await work in Rust, step by step", "Programming", "3 days ago", 842'000, 48'000, 1'620,
         "Futures, executors, wakers and pinning, built up from a tiny runtime."},
        {"vid_black_holes", 2, "What If You Fell Into a Black Hole?! (You Won't Believe It)",
         "What happens when you fall into a black hole", "Science", "1 week ago", 6'400'000, 512'000, 612,
         "Spaghettification, event horizons and the view from the inside."},
        {"vid_donut", 0, "Modelling a Donut from Scratch, Part 1", nullptr, "Tutorial", "2 months ago", 3'200'000,
         176'000, 1'380, "The classic first project: shape, icing and sprinkles."},
        {"vid_privacy", 3, "Your Phone Is SPYING on You Right Now!!", "Phone privacy settings worth changing",
         "Privacy", "5 days ago", 455'000, 31'000, 1'045, "Permissions, trackers and the settings that matter."},
        {"vid_synth", 4, "Why Analog Synths Sound Warm", nullptr, "Music", "3 weeks ago", 1'150'000, 74'000, 1'290,
         "Oscillator drift, filters and the myth of warmth."},
        {"vid_lofi", 5, "Lo-fi Beats for Late Nights", nullptr, "Music", "Streaming", 41'000'000, 980'000, 1'800,
         "Twenty-four hours a day of calm beats."},
        {"vid_gpu", 1, "I Wrote a GPU Driver and It BROKE Everything", "Writing a small GPU driver from scratch",
         "Programming", "4 days ago", 388'000, 27'000, 1'510, "Command buffers, fences and one very long night."},
        {"vid_solar", 2, "How the Sun Actually Shines", nullptr, "Science", "1 month ago", 9'100'000, 640'000, 540,
         "Fusion, photons and a hundred-thousand-year journey outward."},
        {"vid_fuse", 1, "This Tiny Bug Took Down the Whole Filesystem", "Debugging a filesystem-in-userspace crash",
         "Programming", "6 days ago", 188'000, 14'000, 1'150, "Tracing a use-after-free through a user-space filesystem."},
        {"vid_color", 2, "Why Is the Sky Blue and Not Violet?", nullptr, "Science", "2 weeks ago", 2'700'000, 201'000,
         480, "Scattering, our eyes and the colours we cannot see."},
        {"vid_amp", 4, "The Sound of Tube Amplifiers", nullptr, "Music", "1 week ago", 620'000, 39'000, 960,
         "Harmonics, clipping and why guitarists still love valves."},
        {"vid_compose", 3, "Docker Compose Is a SECURITY NIGHTMARE?!", "Hardening a Docker Compose setup", "Tech",
         "2 days ago", 276'000, 19'000, 1'260, "Secrets, networks and least privilege for small servers."},
    };

    for (const VideoSpec& spec : specs) {
        const Channel& owner = library.channels[spec.channel];
        Video video;
        video.id = spec.id;
        video.seed = spec.id;
        video.title = spec.title;
        if (spec.crowd_title != nullptr) video.dearrow_title = spec.crowd_title;
        video.dearrow_thumb = spec.crowd_title != nullptr;
        video.channel_id = owner.id;
        video.channel_name = owner.name;
        video.channel_seed = owner.seed;
        video.views = spec.views;
        video.likes = spec.likes;
        video.duration = spec.duration;
        video.published = spec.published;
        video.description = spec.description;
        video.category = spec.category;
        library.videos.push_back(std::move(video));
    }

    auto& v = library.videos;
    const auto& ch = library.channels;
    // Stored in this order on purpose: segments are not sorted by start.
    v[0].sponsor = {segment(Intro, 0, 18, 412), segment(Sponsor, 1'440, 1'570, 1'893),
                    segment(Interaction, 540, 552, 233), segment(Outro, 1'565, 1'620, 188)};
    v[1].sponsor = {segment(Sponsor, 62, 121, 2'410), segment(SelfPromo, 540, 575, 388), segment(Outro, 590, 612, 97)};
    v[2].sponsor = {segment(Intro, 0, 25, 640), segment(Interaction, 1'300, 1'315, 122)};
    v[3].sponsor = {segment(Sponsor, 95, 170, 904), segment(SelfPromo, 980, 1'010, 211), segment(Filler, 400, 455, 64)};
    v[4].sponsor = {segment(Sponsor, 180, 240, 733), segment(MusicOfftopic, 700, 760, 45), segment(Outro, 1'250, 1'290, 81)};
    v[6].sponsor = {segment(Intro, 0, 12, 150), segment(Sponsor, 300, 365, 502)};
    v[7].sponsor = {segment(Sponsor, 45, 95, 1'120), segment(Preview, 0, 14, 77)};
    v[8].sponsor = {segment(Sponsor, 210, 262, 330), segment(Interaction, 1'100, 1'112, 58)};
    v[9].sponsor = {segment(Sponsor, 30, 72, 845)};
    v[10].sponsor = {segment(Sponsor, 120, 168, 276), segment(Outro, 930, 960, 40)};
    v[11].sponsor = {segment(Intro, 0, 20, 118), segment(Sponsor, 150, 215, 391), segment(SelfPromo, 1'200, 1'240, 73)};

    v[0].comments = {
        from_channel(ch[1], "SU", "Pinned: the tiny executor from the video is linked in the description.", 3'400,
                     "2 days ago", true, 41),
        viewer("@ferrisfan", "FF", "Finally pinning makes sense to me.", 1'280, "1 day ago", 12),
        viewer("@nullderef", "ND", "The waker diagram at 14:10 is perfect.", 640, "1 day ago", 3),
        viewer("@borrowchecked", "BC", "Please do one on cancellation next!", 410, "5 hours ago", 0),
    };
    v[1].comments = {
        from_channel(ch[2], "QD", "Sources and further reading are in the description. Thanks for watching!", 5'100,
                     "1 week ago", true, 120),
        viewer("@stargazer", "ST", "The spaghettification animation is terrifying and beautiful.", 2'900,
               "6 days ago", 18),
        viewer("@eventhorizon", "EH", "I watched this three times in a row.", 880, "3 days ago", 2),
    };
    v[2].comments = {
        viewer("@firstdonut", "FD", "My donut looks like a bagel but I'm proud of it.", 2'200, "1 month ago", 9),
        viewer("@vertexpush", "VP", "Still the best beginner series.", 950, "3 weeks ago", 1),
    };
    v[3].comments = {
        from_channel(ch[3], "QP", "A checklist of every setting from the video is pinned on the channel page.", 1'700,
                     "4 days ago", false, 33),
        viewer("@lockeddown", "LD", "Turned off half my app permissions after this.", 620, "2 days ago", 4),
    };
    v[4].comments = {
        viewer("@patchcable", "PC", "The drift comparison at the end blew my mind.", 1'040, "2 weeks ago", 6),
        viewer("@lowpass", "LP", "More essays like this, please.", 380, "1 week ago", 0),
    };
    v[5].comments = {
        viewer("@nightowl", "NO", "Studying for finals with this on repeat.", 4'200, "now", 21),
        viewer("@rainwindow", "RW", "The rain sounds make it.", 1'560, "2 hours ago", 3),
    };
    v[6].comments = {viewer("@kernelpanic", "KP", "The fence bug story was painfully relatable.", 730, "3 days ago", 5)};
    v[7].comments = {viewer("@photonpath", "PP", "A hundred thousand years just to leave the core!", 2'050,
                            "3 weeks ago", 7)};
    v[8].comments = {viewer("@valgrinder", "VG", "Use-after-free strikes again.", 310, "5 days ago", 1)};
    v[9].comments = {viewer("@prismatic", "PR", "So the sky is a bit violet after all.", 1'330, "1 week ago", 2)};
    v[10].comments = {viewer("@valvestate", "VS", "Nothing beats the sound of a cranked tube amp.", 540,
                             "6 days ago", 0)};
    v[11].comments = {viewer("@rootless", "RL", "Running containers rootless fixed most of this for me.", 460,
                             "1 day ago", 2)};

    library.subscriptions = {ch[1].id, ch[2].id, ch[0].id};
    library.history = {"vid_black_holes", "vid_donut"};
    library.dislikes = {{"vid_rust_async", 1'240},
                        {"vid_black_holes", 8'400},
                        {"vid_donut", 2'300},
                        {"vid_privacy", 3'050},
                        {"vid_gpu", 410}};
    library.profile = "profile:local";
    library.status = BackendStatus{"offline — sample data", false};
    return library;
}

}  // namespace sarn
