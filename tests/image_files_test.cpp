// Image files as a user meets them through zoka: nothing half-written on a
// full disk, out of memory or a signal; only regular files read; every
// format's depths, channels and metadata carried from input to output.

#include "tests/support/cli_fixtures.h"

namespace zoka_cli {
namespace {

using namespace testing_cli;

// ---- Image files: nothing lost on a full disk, out of memory or a signal;
// temporary files made safely; only regular files read ---------------------


TEST_F(CliFiles, AWriteThatFailsLeavesTheEarlierFileWhole) {
    const std::string input = Write("noise.png", Noise(200, 200));
    for (const char* name : {"out.png", "out.jpg"}) {
        SCOPED_TRACE(name);
        const std::string good = Write(name, Image(4, 4, Pixel{255, 9, 8, 7}));
        const std::string before = Contents(good);
        // 8 blocks of 512 or 1024 bytes, far below what the noise encodes to.
        const Run run = RunZoka({"render", "antimatter", input, good, "--json"}, "ulimit -f 8");
        EXPECT_EQ(run.Status(), 3) << run.err;
        EXPECT_EQ(run.ErrorLines(), 1u) << run.err;
        EXPECT_NE(run.err.find("File too large"), std::string::npos) << run.err;
        const auto json = nlohmann::json::parse(run.out);
        EXPECT_EQ(json["written"], false);
        EXPECT_NE(json["error"].get<std::string>().find(name), std::string::npos);
        EXPECT_EQ(Contents(good), before) << "the earlier file is kept byte for byte";
        EXPECT_TRUE(Leftovers().empty());
    }
}

TEST_F(CliFiles, AFullFileSystemLeavesTheEarlierFileWhole) {
    const std::string input = Write("noise.png", Noise(200, 200));
    const std::string good = Write("good.png", Image(4, 4, Pixel{255, 9, 8, 7}));
    fs::create_directories(Path("small"));
    // A private mount namespace: the small file system goes with the shell.
    const std::string script =
        "mount -t tmpfs -o size=64k none small || exit 99; cp good.png small/out.png; \"$0\" render "
        "antimatter noise.png small/out.png 2>stderr.txt; echo $? >status.txt; cmp -s good.png "
        "small/out.png && echo kept >kept.txt; ls -A small >listing.txt";
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(folder.c_str()) == 0) {
            execlp("unshare", "unshare", "-m", "sh", "-c", script.c_str(), ZOKA_CLI_PATH, nullptr);
        }
        _exit(99);
    }
    int wait = 0;
    waitpid(pid, &wait, 0);
    if (!WIFEXITED(wait) || WEXITSTATUS(wait) == 99 || !fs::exists(Path("status.txt"))) {
        GTEST_SKIP() << "no private tmpfs mount here";
    }
    EXPECT_EQ(Contents(Path("status.txt")), "3\n") << Contents(Path("stderr.txt"));
    EXPECT_NE(Contents(Path("stderr.txt")).find("No space left on device"), std::string::npos);
    EXPECT_TRUE(fs::exists(Path("kept.txt"))) << "the earlier file is kept byte for byte";
    EXPECT_EQ(Contents(Path("listing.txt")), "out.png\n") << "no temporary file";
}

TEST_F(CliFiles, TheTemporaryFileCannotBeRedirected) {
    const std::string input = Write("layer.png", Image(5, 3, Pixel{255, 40, 50, 60}));
    const std::string victim = Path("victim.txt");
    for (const mode_t mask : {mode_t{027}, mode_t{002}}) {
        std::ofstream(victim) << "precious";
        int gate[2];
        ASSERT_EQ(pipe2(gate, O_CLOEXEC), 0);
        const pid_t pid = Start({"render", "antimatter", input, Path("out.png")}, "", mask, gate[0]);
        // Every name the process could once have used for its temporary file.
        fs::create_symlink(victim, Path(".zoka-" + std::to_string(pid) + "-out.png"));
        ASSERT_EQ(write(gate[1], "g", 1), 1);
        close(gate[0]);
        close(gate[1]);
        const Run run = Finish(pid);
        ASSERT_EQ(run.Status(), 0) << run.err;
        EXPECT_EQ(Contents(victim), "precious");
        EXPECT_EQ(Read("out.png").Width(), 5);
        const auto mode = fs::status(Path("out.png")).permissions() & fs::perms::all;
        EXPECT_EQ(static_cast<mode_t>(mode), 0666 & ~mask) << "as a plain create would give";
        fs::remove(Path(".zoka-" + std::to_string(pid) + "-out.png"));
        EXPECT_TRUE(Leftovers().empty());
    }
}

TEST_F(CliFiles, ASignalWhileWritingRemovesTheTemporaryFile) {
    // Large and noisy, so that its encoding takes long enough to be caught.
    OIIO::ImageSpec format(4000, 3000, 4, OIIO::TypeDesc::UINT8);
    format.attribute("compression", "none");
    const Image noise = Noise(format.width, format.height);
    auto output = OIIO::ImageOutput::create(Path("noise.tif"));
    ASSERT_TRUE(output->open(Path("noise.tif"), format) &&
                output->write_image(OIIO::TypeDesc::UINT8, noise.Data()) && output->close());
    const std::string good = Write("out.png", Image(4, 4, Pixel{255, 9, 8, 7}));
    const std::string before = Contents(good);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(strsignal(sig));
        bool caught = false;
        for (int attempt = 0; attempt < 3 && !caught; ++attempt) {
            const pid_t pid = Start({"render", "antimatter", Path("noise.tif"), good});
            int wait = 0;
            bool ended = false;
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(3);
            while (!ended && Leftovers().empty() && std::chrono::steady_clock::now() < deadline) {
                ended = waitpid(pid, &wait, WNOHANG) == pid;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            if (!ended) {
                kill(pid, sig);
                wait = Finish(pid).wait;
            }
            // Finished before the signal came: too quick to catch; again.
            caught = WIFSIGNALED(wait);
            if (caught) {
                EXPECT_EQ(WTERMSIG(wait), sig);
            }
            EXPECT_TRUE(Leftovers().empty());
            if (Contents(good) != before) {
                EXPECT_EQ(Read("out.png").Width(), format.width) << "replaced only by a whole file";
                std::ofstream(good, std::ios::binary) << before;
            }
        }
        EXPECT_TRUE(caught) << "the write was never caught in progress";
    }
}

TEST_F(CliFiles, AnOutputThatIsAnInputIsRefused) {
    const std::string input = Write("layer.png", Image(6, 4, Pixel{255, 1, 2, 3}));
    const std::string before = Contents(input);
    fs::create_hard_link(input, Path("link.png"));
    fs::create_symlink(input, Path("symlink.png"));
    for (const std::string& output : {input, Path("link.png"), Path("symlink.png"), Path("./layer.png")}) {
        const Run run = RunZoka({"render", "antimatter", input, output});
        EXPECT_EQ(run.Status(), 2) << output;
        EXPECT_NE(run.err.find("is the input"), std::string::npos) << run.err;
    }
    const std::string selection = Write("selection.png", Image(2, 2, Pixel{255, 0, 0, 0}));
    EXPECT_EQ(RunZoka({"render", "antimatter", input, selection, "--selection", selection}).Status(), 2);
    fs::rename(input, Path("f7.png"));
    const Run animate = RunZoka({"animate", "antimatter", Path("f7.png"), Path("f%d.png"), "--frames", "5-9"});
    EXPECT_EQ(animate.Status(), 2);
    EXPECT_EQ(Contents(Path("f7.png")), before);
    EXPECT_FALSE(fs::exists(Path("f5.png"))) << "refused before any frame is written";
}

TEST_F(CliFiles, ALongOutputNameIsWritten) {
    const std::string input = Write("layer.png", Image(3, 2, Pixel{255, 10, 20, 30}));
    const std::string name = std::string(246, 'n') + ".png";
    const Run run = RunZoka({"render", "antimatter", input, Path(name)});
    ASSERT_EQ(run.Status(), 0) << run.err;
    EXPECT_EQ(Read(name).Width(), 3);
}

TEST_F(CliFiles, OnlyRegularFilesAreRead) {
    ASSERT_EQ(mkfifo(Path("pipe.png").c_str(), 0600), 0);
    fs::create_directories(Path("folder.png"));
    for (const std::string& input : {std::string("/dev/zero"), Path("pipe.png"), Path("folder.png")}) {
        const Run run = RunZoka({"render", "antimatter", input, Path("out.png")});
        EXPECT_EQ(run.Status(), 3) << input;
        EXPECT_EQ(run.err, "zoka: cannot read " + input + ": it is not a regular file\n");
    }
    EXPECT_FALSE(fs::exists(Path("out.png")));
}

TEST_F(CliFiles, DamagedFilesGiveOneLine) {
    const std::string whole = Contents(Write("whole.png", Noise(64, 64)));
    std::ofstream(Path("truncated.png"), std::ios::binary) << whole.substr(0, whole.size() / 2);
    std::ofstream(Path("header.png"), std::ios::binary) << whole.substr(0, 20);
    std::ofstream(Path("text.png")) << "not a picture\n";
    std::ofstream(Path("empty.png"));
    // A header the image library throws out of instead of refusing.
    const unsigned char throwing[] = {0x47, 0x49, 0x46, 0x34, 0x34, 0x61, 0x03, 0x49, 0x49, 0x7a,
                                      0x66, 0x69, 0x6c, 0x2a, 0x00, 0x00, 0xfd, 0xff, 0xf3, 0x0e};
    std::ofstream(Path("throws.gif"), std::ios::binary)
        .write(reinterpret_cast<const char*>(throwing), sizeof throwing);
    for (const char* name : {"truncated.png", "header.png", "text.png", "empty.png", "throws.gif"}) {
        const Run run = RunZoka({"render", "antimatter", Path(name), Path("out.png")});
        EXPECT_EQ(run.Status(), 3) << name;
        EXPECT_EQ(run.ErrorLines(), 1u) << run.err;
        EXPECT_EQ(run.err.rfind("zoka: cannot read", 0), 0u) << run.err;
    }
    EXPECT_FALSE(fs::exists(Path("out.png")));
}

TEST_F(CliFiles, AnImageTooLargeIsRefusedFromItsHeader) {
    WriteBlackPng(Path("huge.png"), 20000, 20000);
    // Decoding it whole would take gigabytes: within 4 GB it must be refused.
    const Run run = RunZoka({"render", "antimatter", Path("huge.png"), Path("out.png")},
                          kAddressSanitizer ? "" : "ulimit -v 4000000");
    EXPECT_EQ(run.Status(), 3);
    EXPECT_EQ(run.err, "zoka: cannot use " + Path("huge.png") +
                           ": it is 20000x20000 pixels; zoka takes up to 30000 pixels a side and "
                           "134217728 pixels in all\n");
    // A GIF's reader paints its first frame onto the whole screen the header
    // declares as it opens the file: refused within 1 GB, and in the same
    // words, however large the screen.
    for (const int side : {20000, 65535}) {
        const std::string name = Path("screen-" + std::to_string(side) + ".gif");
        WriteGifScreen(name, side, side);
        const Run gif = RunZoka({"render", "antimatter", name, Path("out.png")},
                                kAddressSanitizer ? "" : "ulimit -v 1000000");
        EXPECT_EQ(gif.Status(), 3);
        EXPECT_EQ(gif.err, "zoka: cannot use " + name + ": it is " + std::to_string(side) + "x" +
                               std::to_string(side) + " pixels; zoka takes up to 30000 pixels a side and "
                               "134217728 pixels in all\n");
    }
}

TEST_F(CliFiles, RunningOutOfMemoryIsAnErrorLine) {
    if (kAddressSanitizer) GTEST_SKIP() << "the address sanitizer needs more address space than the limit";
    // 64 million pixels take 256 MB a copy, and a render holds at least
    // three. zoka reads PNG files itself and starts at a few tens of MB of
    // address space.
    WriteBlackPng(Path("large.png"), 8000, 8000);
    const std::string limit = "ulimit -v 600000";
    const Run run = RunZoka({"render", "antimatter", Path("large.png"), Path("out.png")}, limit);
    EXPECT_TRUE(WIFEXITED(run.wait)) << "not killed by a signal";
    EXPECT_EQ(run.Status(), 1);
    EXPECT_EQ(run.ErrorLines(), 1u) << run.err;
    EXPECT_EQ(run.err.rfind("zoka: ", 0), 0u) << run.err;
    EXPECT_TRUE(Leftovers().empty());
}

TEST_F(CliFiles, AnAnimationThatCannotBeWrittenLeavesTheEarlierOne) {
    const std::vector<Image> frames(4, Noise(120, 90));
    std::string error;
    ASSERT_TRUE(WriteAnimation(Path("loop.gif"), {Image(2, 2, Pixel{255, 1, 1, 1})}, 10, error)) << error;
    const std::string before = Contents(Path("loop.gif"));
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    const auto previous = signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 4096;
    setrlimit(RLIMIT_FSIZE, &small);
    const bool written = WriteAnimation(Path("loop.gif"), frames, 10, error);
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, previous);
    EXPECT_FALSE(written);
    EXPECT_NE(error.find("File too large"), std::string::npos) << error;
    EXPECT_EQ(Contents(Path("loop.gif")), before);
    EXPECT_TRUE(Leftovers().empty());
    ASSERT_TRUE(WriteAnimation(Path("loop.gif"), frames, 10, error)) << error;
    OIIO::ImageBuf last(Path("loop.gif"), 3, 0);
    ASSERT_TRUE(last.read(3, 0, true, OIIO::TypeDesc::UINT8));
    EXPECT_EQ(last.spec().width, 120);
}

TEST_F(CliFiles, ThinImagesRoundTrip) {
    for (const auto& [width, height] : {std::pair{1, 1}, std::pair{1, 37}, std::pair{37, 1}}) {
        for (const char* extension : {".png", ".tif", ".exr"}) {
            const Image image = Noise(width, height);
            const std::string name =
                "thin" + std::to_string(width) + "x" + std::to_string(height) + extension;
            Write(name, image);
            EXPECT_EQ(Read(name), image) << name;
        }
    }
    const std::string input = Write("column.png", Noise(1, 37));
    ASSERT_EQ(RunZoka({"render", "antimatter", input, Path("out.png")}).Status(), 0);
    EXPECT_EQ(Read("out.png").Height(), 37);
}

TEST_F(CliFiles, EightBitFilesAreReadAsTheyAre) {
    // Every grey value under every alpha, straight (PNG) and premultiplied
    // (TIFF), and a tiled file.
    std::vector<uint8_t> pairs;
    for (int a = 0; a < 256; ++a) {
        for (int v = 0; v < 256; ++v) pairs.insert(pairs.end(), {uint8_t(v), uint8_t(a)});
    }
    for (const char* name : {"straight.png", "premultiplied.tif"}) {
        OIIO::ImageSpec format(256, 256, 2, OIIO::TypeDesc::UINT8);
        format.alpha_channel = 1;
        format.attribute("oiio:UnassociatedAlpha", std::string(name) == "straight.png");
        OIIO::ImageBuf buffer(format);
        buffer.set_pixels(buffer.roi(), OIIO::TypeDesc::UINT8, pairs.data());
        ASSERT_TRUE(buffer.write(Path(name)));
    }
    const Image straight = Read("straight.png"), premultiplied = Read("premultiplied.tif");
    for (int a = 0; a < 256; ++a) {
        for (int v = 0; v < 256; ++v) {
            ASSERT_EQ(straight.At(v, a), (Pixel{uint8_t(a), uint8_t(v), uint8_t(v), uint8_t(v)}));
        }
    }
    EXPECT_EQ(premultiplied.At(64, 128), (Pixel{128, 128, 128, 128})) << "64 / 128 of 255, rounded";
    EXPECT_EQ(premultiplied.At(200, 100), (Pixel{100, 255, 255, 255})) << "clamped";
    EXPECT_EQ(premultiplied.At(7, 0), (Pixel{0, 0, 0, 0}));

    const Image pattern = Noise(100, 70);
    OIIO::ImageSpec tiled(100, 70, 4, OIIO::TypeDesc::UINT8);
    tiled.alpha_channel = 3;
    tiled.tile_width = tiled.tile_height = 16;
    std::vector<uint8_t> rgba;
    for (int y = 0; y < 70; ++y) {
        for (int x = 0; x < 100; ++x) {
            const Pixel p = pattern.At(x, y);
            rgba.insert(rgba.end(), {p.r, p.g, p.b, p.a});
        }
    }
    auto output = OIIO::ImageOutput::create(Path("tiled.tif"));
    ASSERT_TRUE(output->open(Path("tiled.tif"), tiled) &&
                output->write_image(OIIO::TypeDesc::UINT8, rgba.data()) && output->close());
    EXPECT_EQ(Read("tiled.tif"), pattern);
}

// Listing, inspecting and rendering PNG, JPEG and TIFF files never load the
// image library (and its libraries); other formats load it when they are
// met.
TEST_F(CliFiles, OnlyOtherFormatsLoadTheImageLibrary) {
    const std::string input = Write("layer.png", Image(6, 4, Pixel{255, 1, 2, 3}));
    const auto loads = [&](const std::vector<std::string>& arguments) {
        const Run run = RunZoka(arguments, "export LD_DEBUG=files");
        EXPECT_EQ(run.Status(), 0) << arguments[0];
        return run.err.find("zoka-images.so") != std::string::npos;
    };
    EXPECT_FALSE(loads({"list"}));
    EXPECT_FALSE(loads({"params", "glass"}));
    EXPECT_FALSE(loads({"render", "antimatter", input, Path("out.png")}));
    EXPECT_FALSE(loads({"render", "antimatter", input, Path("out.jpg")}));
    EXPECT_FALSE(loads({"render", "antimatter", input, Path("out.tif")}));
    EXPECT_FALSE(loads({"render", "antimatter", Path("out.jpg"), Path("again.tif")}));
    EXPECT_FALSE(loads({"render", "antimatter", Path("out.tif"), Path("again.jpg")}));
    EXPECT_TRUE(loads({"render", "antimatter", input, Path("out.bmp")}));
    EXPECT_EQ(Read("out.tif"), Read("out.png"));
    EXPECT_EQ(Read("out.bmp"), Read("out.png"));
}

// The image library's libraries start thread pools as they are first used
// and end them as the process exits. The leak check must stop those threads
// while they wait, not while they end (which now and then crashed it): no
// thread may have ended when the check begins. On one worker zoka starts no
// thread of its own, so every thread here is the libraries'.
TEST_F(CliFiles, TheLeakCheckRunsWhileTheLibrarysThreadsWait) {
    if (!kAddressSanitizer) GTEST_SKIP() << "the leak check is the address sanitizer's";
    OIIO::ImageSpec exifSpec;
    exifSpec.attribute("Exif:LensModel", "zoka lens");
    std::vector<char> blob;
    OIIO::encode_exif(exifSpec, blob, OIIO::endian::big);
    ImageMetadata metadata;
    metadata.exif.assign(blob.begin(), blob.end());
    WriteExtras extras;
    extras.metadata = &metadata;
    std::string error;
    ASSERT_TRUE(WriteImage(Path("in.png"), Image(6, 4, Pixel{255, 1, 2, 3}), error, 1, extras)) << error;

    // An OpenEXR output carrying EXIF is the library's, and starts its pools.
    const Run run = RunZoka({"render", "--threads", "1", "antimatter", Path("in.png"), Path("out.exr")},
                            "export LSAN_OPTIONS=verbosity=1:log_threads=1");
    ASSERT_EQ(run.Status(), 0) << run.err;
    const size_t check = run.err.find("Processing thread");
    ASSERT_NE(check, std::string::npos) << run.err;
    EXPECT_EQ(run.err.rfind(" exited\n", check), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("Processing thread", run.err.find('\n', check)), std::string::npos)
        << "no thread of the libraries' was seen\n"
        << run.err;
}

// The zlib level changes the file, never the pixels.
TEST_F(CliFiles, CompressionLevelsKeepThePixels) {
    const std::string input = Write("layer.png", Noise(64, 48));
    for (const char* level : {"0", "9"}) {
        const Outcome run = Zoka("render antimatter " + input + " " + Path(std::string("out") + level + ".png") +
                                 " --compression " + level);
        EXPECT_EQ(run.status, 0) << run.err;
    }
    EXPECT_EQ(Read("out0.png"), Read("out9.png"));
    EXPECT_GT(fs::file_size(Path("out0.png")), fs::file_size(Path("out9.png")));
    EXPECT_EQ(Zoka("render antimatter " + input + " " + Path("out.png") + " --compression 10").status, 2);
    EXPECT_EQ(Zoka("animate antimatter " + input + " " + Path("f%d.png") + " --frames 0-1 --compression 9").status,
              0);
    EXPECT_EQ(Read("f1.png"), Read("out9.png"));
}

// GIF readers name an alpha channel past the last one: each pixel's alpha
// is its own, not the next pixel's red.
TEST_F(CliFiles, AGifsPixelsAreReadWhole) {
    OIIO::ImageSpec format(3, 1, 4, OIIO::TypeDesc::UINT8);
    format.alpha_channel = 3;
    OIIO::ImageBuf buffer(format);
    const uint8_t pixels[12] = {255, 0, 0, 255, 0, 0, 0, 0, 0, 0, 255, 255};
    buffer.set_pixels(buffer.roi(), OIIO::TypeDesc::UINT8, pixels);
    ASSERT_TRUE(buffer.write(Path("dots.gif")));
    const Image image = Read("dots.gif");
    EXPECT_EQ(image.At(0, 0), (Pixel{255, 255, 0, 0}));
    EXPECT_EQ(image.At(1, 0), (Pixel{255, 0, 0, 0})) << "written opaque: GIF keeps no partial alpha";
    EXPECT_EQ(image.At(2, 0), (Pixel{255, 0, 0, 255}));
}


// An input without alpha that stays opaque comes out without alpha; formats
// without alpha get the image over the background, not its bare colours.
TEST_F(Footage, ChannelsFollowTheInputAndJpegsGetABackground) {
    OIIO::ImageBuf rgb(OIIO::ImageSpec(8, 8, 3, OIIO::TypeDesc::UINT8));
    const std::vector<uint8_t> pixels(8 * 8 * 3, 90);
    rgb.set_pixels(rgb.roi(), OIIO::TypeDesc::UINT8, pixels.data());
    ASSERT_TRUE(rgb.write(Path("rgb.png")));
    const auto channels = [](const std::string& path) {
        auto in = OIIO::ImageInput::open(path);
        return in ? in->spec().nchannels : 0;
    };
    ASSERT_TRUE(Succeeded(Zoka("render antimatter " + Path("rgb.png") + " " + Path("rgb_out.png"))));
    EXPECT_EQ(channels(Path("rgb_out.png")), 3);
    EXPECT_EQ(Read("rgb_out.png").At(3, 3), (Pixel{255, 165, 165, 165}));
    ASSERT_TRUE(Succeeded(Zoka("render motiontrail " + Path("rgb.png") + " " + Path("grown.png") + " --set Length=5")));
    EXPECT_EQ(channels(Path("grown.png")), 4) << "the trail leaves transparent corners";
    const std::string shape = Shape("shape.png");
    ASSERT_TRUE(Succeeded(Zoka("render antimatter " + shape + " " + Path("shape_out.png"))));
    EXPECT_EQ(channels(Path("shape_out.png")), 4);

    Image halfClear(8, 8, Pixel{0, 250, 10, 10});
    for (int x = 0; x < 4; ++x) {
        for (int y = 0; y < 8; ++y) halfClear.Set(x, y, Pixel{255, 10, 10, 250});
    }
    const std::string input = Write("half.png", halfClear);
    ASSERT_TRUE(Succeeded(Zoka("render antimatter " + input + " " + Path("black.jpg") + " --set Amount=0")));
    ASSERT_TRUE(Succeeded(Zoka("render antimatter " + input + " " + Path("white.jpg") + " --set Amount=0 --background white")));
    const Image black = Read("black.jpg"), white = Read("white.jpg");
    EXPECT_LT(black.At(7, 4).r, 20) << "not the transparent pixels' own red";
    EXPECT_GT(white.At(7, 4).g, 235);
    EXPECT_GT(black.At(0, 4).b, 220) << "opaque pixels as they are";
    EXPECT_EQ(Zoka("render antimatter " + input + " " + Path("x.jpg") + " --background ultraviolet").status, 2);
}


// ---- Bit depth and metadata from input to output -----------------------------


// 16-bit inputs give 16-bit outputs holding the 8-bit render's values v as
// v * 257; float and half EXRs give back the values they were written from.
TEST_F(Depth, OutputsKeepTheInputsDepthOrTheOneAsked) {
    const std::string in8 = Layer("in8.png");
    ASSERT_TRUE(Succeeded(Zoka("render antimatter " + in8 + " " + Path("in16.png") + " --set Amount=0 -d uint16")));
    const std::vector<uint16_t> in16 = Samples16(Path("in16.png"));
    EXPECT_EQ(Stored(Path("in16.png")), OIIO::TypeDesc::UINT16);
    ASSERT_EQ(in16.size(), 12u * 4 * 4);
    EXPECT_EQ(in16[4 * 12 + 3], 128 * 257) << "the half-transparent alpha";
    // The same two renders at 8 bits.
    ASSERT_TRUE(Succeeded(Zoka("render antimatter " + in8 + " " + Path("in8b.png") + " --set Amount=0")));
    EXPECT_EQ(Samples16(Path("in8b.png")), in16) << "OpenImageIO widens 8-bit v to v * 257 too";

    ASSERT_TRUE(Succeeded(Zoka("render antimatter " + Path("in8b.png") + " " + Path("out8.png") + " --set Amount=30")));
    ASSERT_TRUE(Succeeded(Zoka("render antimatter " + Path("in16.png") + " " + Path("out16.png") + " --set Amount=30")));
    EXPECT_EQ(Stored(Path("out8.png")), OIIO::TypeDesc::UINT8) << "8-bit inputs stay 8-bit";
    EXPECT_EQ(Stored(Path("out16.png")), OIIO::TypeDesc::UINT16);
    const std::vector<uint16_t> out8 = Samples16(Path("out8.png"));
    const std::vector<uint16_t> out16 = Samples16(Path("out16.png"));
    EXPECT_EQ(out16, out8);
    EXPECT_TRUE(SameImage(Read("out16.png"), Read("out8.png")));

    for (const std::string depth : {"float", "half"}) {
        const std::string exr = Path(depth + ".exr"), again = Path(depth + "_again.exr");
        ASSERT_TRUE(Succeeded(Zoka("render antimatter " + in8 + " " + exr + " --set Amount=0 -d " + depth)));
        ASSERT_TRUE(Succeeded(Zoka("render antimatter " + exr + " " + again + " --set Amount=0")));
        const OIIO::TypeDesc expected = depth == "float" ? OIIO::TypeDesc::FLOAT : OIIO::TypeDesc::HALF;
        EXPECT_EQ(Stored(exr), expected);
        EXPECT_EQ(Stored(again), expected) << "kept from the input";
        // The same two renders at 8 bits; colour under alpha 0 is not kept.
        ASSERT_TRUE(Succeeded(Zoka("render antimatter " + Path("in8b.png") + " " + Path("in8c.png") + " --set Amount=0")));
        const Image eight = Read("in8c.png"), back = Read(depth + "_again.exr");
        for (int y = 0; y < 3; ++y) {
            for (int x = 0; x < 12; ++x) EXPECT_EQ(back.At(x, y), eight.At(x, y)) << depth << " " << x << "," << y;
        }
    }
    ASSERT_TRUE(Succeeded(Zoka("render antimatter " + in8 + " " + Path("eight.exr") + " --set Amount=0")));
    EXPECT_EQ(Stored(Path("eight.exr")), OIIO::TypeDesc::HALF) << "OpenEXR's nearest to 8 bits";
    ASSERT_TRUE(Succeeded(Zoka("render antimatter " + Path("float.exr") + " " + Path("float.png"))));
    EXPECT_EQ(Stored(Path("float.png")), OIIO::TypeDesc::UINT16) << "PNG's nearest to float";
    ASSERT_TRUE(Succeeded(Zoka("render antimatter " + Path("in16.png") + " " + Path("in16.jpg"))));
}

// A depth the format cannot hold is refused before the input is even read.
TEST_F(Depth, DepthsTheFormatCannotHoldAreRefusedBeforeRendering) {
    const std::string missing = Path("missing.png");
    Outcome run = Zoka("render antimatter " + missing + " " + Path("out.png") + " -d float");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "zoka: -d float: PNG files hold 8 or 16 bits\n");
    run = Zoka("render antimatter " + missing + " " + Path("out.jpg") + " -d uint16");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "zoka: -d uint16: JPEG files hold 8 bits\n");
    run = Zoka("render antimatter " + missing + " " + Path("out.exr") + " -d uint8");
    EXPECT_EQ(run.err, "zoka: -d uint8: OpenEXR files hold half or float\n");
    run = Zoka("animate antimatter " + missing + " " + Path("out_%d.png") + " --frames 1-3 -d half");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "zoka: -d half: PNG files hold 8 or 16 bits\n");
    EXPECT_EQ(Zoka("render antimatter " + missing + " " + Path("out.png") + " -d int12").status, 2);
    EXPECT_EQ(FileCount(), 0u);
}

// A small RGB display profile: a header and a copyright text, long and
// varied enough that libpng reads its compressed chunk back (it skips
// profiles that compress to a few dozen bytes).
std::vector<uint8_t> TinyProfile() {
    constexpr size_t kSize = 256, kText = 144;
    std::vector<uint8_t> icc(kSize, 0);
    const auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) icc[at + i] = uint8_t(v >> (24 - 8 * i));
    };
    const auto put = [&](size_t at, const char* four) { std::memcpy(&icc[at], four, 4); };
    put32(0, kSize);
    put32(8, 0x02100000);
    put(12, "mntr");
    put(16, "RGB ");
    put(20, "XYZ ");
    put(36, "acsp");
    put32(68, 0xf6d6);  // the D50 illuminant
    put32(72, 0x10000);
    put32(76, 0xd32d);
    put(80, "zoka");
    put32(128, 1);  // one tag: the copyright
    put(132, "cprt");
    put32(136, kText);
    put32(140, kSize - kText);
    put(kText, "text");
    uint32_t x = 1;
    for (size_t i = kText + 8; i + 1 < kSize; ++i) {
        x = x * 1103515245u + 12345u;
        icc[i] = uint8_t('!' + (x >> 16) % 90);
    }
    return icc;
}

// The ICC profile, EXIF and resolution go with the image, PNG to PNG and
// through TIFF and JPEG, as zoka and other tools read them.
TEST_F(Depth, ProfilesExifAndResolutionGoWithTheImage) {
    OIIO::ImageSpec exifSpec;
    exifSpec.attribute("Exif:LensModel", "zoka lens");
    std::vector<char> blob;
    OIIO::encode_exif(exifSpec, blob, OIIO::endian::big);
    ImageMetadata metadata;
    metadata.icc = TinyProfile();
    metadata.exif.assign(blob.begin(), blob.end());
    metadata.xResolution = metadata.yResolution = 40;
    metadata.unit = ImageMetadata::Unit::kCentimetre;
    WriteExtras extras;
    extras.metadata = &metadata;
    std::string error;
    ASSERT_TRUE(WriteImage(Path("in.png"), Image(6, 4, Pixel{255, 1, 2, 3}), error, 1, extras)) << error;

    const auto kept = [&](const std::string& name, bool exif) {
        Image image;
        ImageInfo info;
        ASSERT_TRUE(ReadImage(Path(name), image, error, info)) << error;
        EXPECT_EQ(info.metadata.icc, metadata.icc) << name;
        EXPECT_FLOAT_EQ(static_cast<float>(info.metadata.xResolution), 40) << name;
        EXPECT_EQ(info.metadata.unit, ImageMetadata::Unit::kCentimetre) << name;
        OIIO::ImageSpec decoded;
        OIIO::decode_exif(OIIO::cspan<uint8_t>(info.metadata.exif.data(), int64_t(info.metadata.exif.size())), decoded);
        EXPECT_EQ(decoded.get_string_attribute("Exif:LensModel"), exif ? "zoka lens" : "") << name;
        const std::string text = Info(Path(name));
        EXPECT_NE(text.find("ICCProfile"), std::string::npos) << name << text;
        // OpenImageIO gives PNG's pixels per metre in inches.
        const bool perCm = text.find("XResolution: 40\n") != std::string::npos &&
                           text.find("ResolutionUnit: \"cm\"") != std::string::npos;
        const bool perInch = text.find("XResolution: 101.6\n") != std::string::npos &&
                             text.find("ResolutionUnit: \"inch\"") != std::string::npos;
        EXPECT_TRUE(perCm || perInch) << name << text;
        // OpenImageIO reads no EXIF from PNG files.
        if (name.ends_with(".png")) return;
        EXPECT_EQ(text.find("Exif:LensModel: \"zoka lens\"") != std::string::npos, exif) << name << text;
    };
    kept("in.png", true);
    for (const std::string name : {"out.png", "out.tif", "out.jpg"}) {
        ASSERT_TRUE(Succeeded(Zoka("render antimatter " + Path("in.png") + " " + Path(name)))) << name;
        kept(name, true);
    }
    ASSERT_TRUE(Succeeded(Zoka("render antimatter " + Path("out.tif") + " " + Path("back.png"))));
    kept("back.png", true);
    ASSERT_TRUE(Succeeded(Zoka("render antimatter " + Path("out.jpg") + " " + Path("back.tif"))));
    kept("back.tif", true);

    // OpenEXR carries the resolution (in inches) and EXIF, not the profile.
    ASSERT_TRUE(Succeeded(Zoka("render antimatter " + Path("in.png") + " " + Path("out.exr"))));
    Image image;
    ImageInfo info;
    ASSERT_TRUE(ReadImage(Path("out.exr"), image, error, info)) << error;
    EXPECT_TRUE(info.metadata.icc.empty());
    EXPECT_FLOAT_EQ(static_cast<float>(info.metadata.xResolution), 101.6f);
    EXPECT_EQ(info.metadata.unit, ImageMetadata::Unit::kInch);
    EXPECT_NE(Info(Path("out.exr")).find("Exif:LensModel: \"zoka lens\""), std::string::npos);
}

// --quality trades JPEG's size for its fidelity.
TEST_F(Depth, JpegQualityChangesTheFileSize) {
    Image noisy(64, 64);
    for (int y = 0; y < 64; ++y) {
        for (int x = 0; x < 64; ++x) {
            noisy.Set(x, y, Pixel{255, uint8_t(x * 37 ^ y * 11), uint8_t(x * y), uint8_t(y * 5)});
        }
    }
    const std::string input = Write("noisy.png", noisy);
    for (const std::string quality : {"10", "95"}) {
        const std::string output = Path(quality + ".jpg");
        ASSERT_TRUE(Succeeded(Zoka("render antimatter " + input + " " + output + " --quality " + quality)));
    }
    ASSERT_TRUE(Succeeded(Zoka("render antimatter " + input + " " + Path("default.jpg"))));
    ASSERT_TRUE(Succeeded(Zoka("render antimatter " + input + " " + Path("98.jpg") + " --quality 98")));
    EXPECT_LT(fs::file_size(Path("10.jpg")) * 2, fs::file_size(Path("95.jpg")));
    EXPECT_EQ(fs::file_size(Path("default.jpg")), fs::file_size(Path("98.jpg"))) << "the default is 98";
    EXPECT_EQ(Zoka("render antimatter " + input + " " + Path("0.jpg") + " --quality 0").status, 2);
}


}  // namespace
}  // namespace zoka_cli
