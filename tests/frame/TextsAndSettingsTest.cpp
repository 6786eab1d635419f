// Pane texts, the settings store's read rules, the command line and window placement.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <functional>

#include <sys/stat.h>

#include "app/CommandLine.h"
#include "store/SettingsStore.h"
#include "frame/Placement.h"
#include "session/StatusTexts.h"
#include "tests/ScopedLocale.h"

namespace kestrel {
namespace {

using namespace std::chrono_literals;

// The pane texts with numbers, the same under the "C" locale and under one with a decimal comma
// and digit grouping (the small numbers and the fixed texts are the window's tests').
TEST(StatusTexts, TextsUnderEveryLocale) {
    for (const char* locale : {"C", "de_DE.UTF-8", "de_DE.utf8"}) {
        const test::ScopedLocale scoped(locale);
        if (!scoped.ok) {
            continue;  // a German locale may not be installed
        }
        // Made under the locale, not before it.
        const std::pair<std::string, const char*> cases[] = {
            {NearErrorsText(999999), "Near Errors = 999999"},
            {FarErrorsText(1234567), "Far Errors = 1234567"},
            {NearErrorsText(5000000000LL), "Near Errors = 5000000000"},
            {ComText(260), "COM: 260"},
            {ElapsedText(86399s), " 0:23:59:59"},
            {ElapsedText(86400s), " 1:00:00:00"},
            {ElapsedText(std::chrono::hours(24 * 100)), " 100:00:00:00"},
            {ElapsedText(std::chrono::hours(24 * 100000) + 3723s), " 100000:01:02:03"},
            {ElapsedText(-5s), " 0:00:00:00"},
        };
        for (const auto& [produced, expected] : cases) {
            EXPECT_EQ(produced, expected) << locale;
        }
    }
}

TEST(WindowPos, ReadRules) {
    struct Case {
        const char* text;
        bool valid;
        WindowPlacement expected;
    };
    const WindowPlacement sample{0, 1, -1, -1, -1, -1, 10, 20, 810, 620};
    const Case cases[] = {
        {"0,1,-1,-1,-1,-1,10,20,810,620", true, sample},
        {"0,1,-1,-1,-1,-1,10,20,810,620,99", true, sample},        // eleven: first ten
        {"0,1,-1,-1,-1,-1,10,20,810,620 junk", true, sample},      // text after the tenth
        {"0, 1, -1, -1, -1, -1, 10, 20, 810, 620", true, sample},  // blanks before numbers
        {"0,1,-1,-1,-1,-1,10,20,810", false, {}},                  // nine
        {"0,1,-1,-1,x,-1,10,20,810,620", false, {}},               // a letter
        {"0,1,-1,-1,-1,-1,10,20,810 ,620", false, {}},             // blank before a comma
        {"", false, {}},
        {"abc", false, {}},
    };
    for (const Case& c : cases) {
        const auto p = ParseWindowPos(QString::fromLatin1(c.text));
        ASSERT_EQ(p.has_value(), c.valid) << c.text;
        if (c.valid) {
            EXPECT_EQ(*p, c.expected) << c.text;
        }
    }
}

class SettingsStoreFile : public ::testing::Test {
protected:
    // Writes an INI file by hand, as a user editing it would.
    SettingsStore Store(const QByteArray& contents) {
        QDir().mkpath(dir.filePath(QStringLiteral("Verdanne Ltd.")));
        QFile f(dir.filePath(QStringLiteral("Verdanne Ltd./Kestrel.conf")));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(contents);
        f.close();
        return SettingsStore(dir.path());
    }
    QTemporaryDir dir;
};

TEST_F(SettingsStoreFile, OnlyARegularFileIsReadOrWritten) {
    const QString folder = dir.filePath(QStringLiteral("Verdanne Ltd."));
    const QString file = folder + QStringLiteral("/Kestrel.conf");
    struct Case {
        const char* what;
        std::function<void()> make;
        bool readable;
    };
    const Case cases[] = {
        {"no file yet", [] {}, true},
        {"a regular file", [&] { Store("[Settings]\nActivePort=2\n"); }, true},
        {"a FIFO",
         [&] {
             QDir().mkpath(folder);
             ASSERT_EQ(mkfifo(QFile::encodeName(file).constData(), 0600), 0);
         },
         false},
        {"a folder", [&] { QDir().mkpath(file); }, false},
        {"below a file",
         [&] {
             QFile f(folder);
             ASSERT_TRUE(f.open(QIODevice::WriteOnly));
         },
         false},
    };
    for (const Case& c : cases) {
        QDir(folder).removeRecursively();
        QFile::remove(folder);
        c.make();
        const QFileInfo before(file);
        {
            SettingsStore store(dir.path());
            EXPECT_EQ(store.Problem().isEmpty(), c.readable) << c.what;
            EXPECT_EQ(store.ReadPortOpen(), 0) << c.what;
            store.WritePortState(3, 1);
            store.Sync();
        }
        // What could not be read is left exactly as it was.
        if (!c.readable) {
            const QFileInfo after(file);
            EXPECT_EQ(after.exists(), before.exists()) << c.what;
            EXPECT_EQ(after.isFile(), before.isFile()) << c.what;
            EXPECT_EQ(after.isDir(), before.isDir()) << c.what;
        } else {
            EXPECT_EQ(SettingsStore(dir.path()).ReadActivePort(), 3) << c.what;
        }
    }
}

// Values as a user edits them by hand, and as the store writes them.
TEST_F(SettingsStoreFile, HandEditedAndWrittenValues) {
    // An unquoted comma value comes back from QSettings as a list; it still counts.
    SettingsStore store = Store(
        "[Settings]\nWindowPos=0,1,-1,-1,-1,-1,5,6,405,306\nActivePort=abc\nPortOpen=1 \n"
        "[Devices]\nCOM3=/dev/pts/7\nCOM9=\nLPT1=/dev/lp0\n"
        "[View]\nNotifyDelaySeconds=x\n");
    const auto p = store.ReadWindowPos();
    ASSERT_TRUE(p.has_value());
    EXPECT_EQ(p->left, 5);
    EXPECT_EQ(p->bottom, 306);
    // A leading number, signed or after blanks, counts; only the ports the dialog offers;
    // anything else is as if missing: not a number, or a number past them, also one whose low
    // 32 bits would name a port.
    const std::pair<const char*, int> ports[] = {
        {"abc", 1}, {"4", 4},  {" 3x", 3},        {"+2", 2}, {"-", 1}, {"", 1},
        {"0", 1},   {"5", 1},  {"-2", 1}, {"4294967298", 1}, {"99999999999999", 1}};
    for (const auto& [text, port] : ports) {
        store.Raw().setValue(QStringLiteral("Settings/ActivePort"), QString::fromLatin1(text));
        EXPECT_EQ(store.ReadActivePort(), port) << text;
    }
    EXPECT_EQ(store.ReadPortOpen(), 1);
    EXPECT_EQ(store.ReadViewNumber("NotifyDelaySeconds", 5), 5);
    EXPECT_EQ(store.ReadDevicePaths(),
              (std::vector<std::pair<int, std::string>>{{3, "/dev/pts/7"}}));

    // A comma in a file's name does not split it.
    store.WriteRecentFiles({QStringLiteral("/a.cfg"), QStringLiteral("/b,c.cfg")});
    store.Sync();
    EXPECT_EQ(SettingsStore(dir.path()).ReadRecentFiles(),
              QStringList({QStringLiteral("/a.cfg"), QStringLiteral("/b,c.cfg")}));
}

TEST(CommandLine, Options) {
    auto parse = [](std::initializer_list<const char*> args) {
        QStringList l;
        for (const char* a : args) {
            l << QString::fromLatin1(a);
        }
        return ParseCommandLine(l);
    };
    // Each option also as "--name=value"; the separate form is what the end-to-end tests give.
    CommandLine c = parse({"--device", "COM3=/dev/pts/4", "--device=com1=/tmp/x",
                           "--status-file=/tmp/a", "--record=/tmp/day.csv", "day.cfg"});
    EXPECT_TRUE(c.error.isEmpty()) << c.error.toStdString();
    ASSERT_EQ(c.devices.size(), 2u);
    EXPECT_EQ(c.devices[0], std::make_pair(3, std::string("/dev/pts/4")));
    EXPECT_EQ(c.devices[1], std::make_pair(1, std::string("/tmp/x")));
    EXPECT_EQ(c.statusFile, u"/tmp/a");
    EXPECT_EQ(c.recordFile, u"/tmp/day.csv");
    EXPECT_EQ(c.document, u"day.cfg");

    // The Windows shell's switches start the program normally.
    c = parse({"/Embedding", "-Automation", "/dde", "/p", "x.cfg"});
    EXPECT_TRUE(c.error.isEmpty());
    EXPECT_EQ(c.document, u"x.cfg");
    EXPECT_TRUE(parse({"--help"}).help);
    EXPECT_TRUE(parse({"--version"}).version);
    // An empty settings folder still means the user's own settings.
    EXPECT_TRUE(parse({"--settings-dir="}).error.isEmpty());

    for (auto bad : {std::initializer_list<const char*>{"--device"},
                     {"--device", "COM0=/x"},
                     {"--device", "COM1"},
                     {"--frobnicate"},
                     {"a.cfg", "b.cfg"},
                     {"--status-file"},
                     {"--record"},
                     {"--record="},
                     {"--status-file", ""},
                     {"--records=x"},
                     {"--help=x"}}) {
        EXPECT_FALSE(parse(bad).error.isEmpty()) << *bad.begin();
    }
}

TEST(Placement, StoredRectanglesOnTheScreensThatExist) {
    const QList<QRect> screens{QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 1024)};
    struct Case {
        const char* edges;  // left, top, right, bottom as stored
        QRect expected;
        bool clamped;
    };
    const Case cases[] = {
        // On either screen: unchanged.
        {"100,100,900,700", {100, 100, 800, 600}, false},
        {"2000,50,2800,650", {2000, 50, 800, 600}, false},
        // On a screen that was unplugged: back onto the first one, inside it.
        {"3500,200,4300,800", {1120, 200, 800, 600}, true},
        // Title strip above the top: moved down.
        {"100,-500,900,100", {100, 0, 800, 600}, true},
        // Larger than the screen: shrunk to it.
        {"-5000,0,-1000,3000", {0, 0, 1920, 1080}, true},
        {"100,100,99999,99999", {0, 0, 1920, 1080}, true},
        // Degenerate sizes grow to the minimum, in their place.
        {"10,10,10,5", {10, 10, kMinWindowWidth, kMinWindowHeight}, false},
        {"1900,10,1910,20", {1720, 10, kMinWindowWidth, kMinWindowHeight}, true},
        // Extreme edges: the width is computed without overflowing.
        {"-2147483648,0,2147483647,600", {0, 0, 1920, 600}, true},
        {"2147483647,2147483647,-2147483648,-2147483648", {1720, 960, 200, 120}, true},
        {"0,0,99999999999,600", {0, 0, 1920, 600}, true},
    };
    for (const Case& c : cases) {
        const auto p = ParseWindowPos(QStringLiteral("0,1,-1,-1,-1,-1,") + QLatin1String(c.edges));
        ASSERT_TRUE(p.has_value()) << c.edges;
        const RestoredRect r = KeepOnScreens(p->left, p->top, p->right, p->bottom, screens);
        EXPECT_EQ(r.rect, c.expected) << c.edges;
        EXPECT_EQ(r.clamped, c.clamped) << c.edges;
    }
}

// A first start on a 1280 x 1024 screen whose window manager draws a 24-pixel title bar: the
// frame lies inside the available area, and a window that fits is left where it goes.
TEST(Placement, FirstStartFitsTheFrameInTheAvailableArea) {
    const QMargins frame(4, 24, 4, 4);
    const QSize least(kMinWindowWidth, kMinWindowHeight);
    struct Case {
        QSize wanted;
        QRect available;
        QRect expected;  // empty size and origin: no position given
    };
    const Case cases[] = {
        {{800, 600}, {0, 0, 1280, 1024}, {0, 0, 800, 600}},
        {{1262, 1014}, {0, 0, 1280, 1024}, {9, 24, 1262, 996}},
        {{1400, 1014}, {0, 30, 1280, 994}, {4, 54, 1272, 966}},
        // Smaller than the window's minimum: that wins, its title bar on the screen.
        {{800, 600}, {0, 0, 640, 100}, {4, 24, 632, 120}},
    };
    for (const Case& c : cases) {
        const FirstRect first = FitFirstPlacement(c.wanted, c.available, frame, least);
        EXPECT_EQ(first.size, c.expected.size()) << c.wanted.width() << "x" << c.wanted.height();
        EXPECT_EQ(first.at.value_or(QPoint()), c.expected.topLeft());
    }
}

}  // namespace
}  // namespace kestrel
