// Start-up of the application object from a command line, in settings of its own.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "FrameFixture.h"
#include "app/CKestrelApp.h"
#include "frame/CMainFrame.h"

namespace kestrel::test {
namespace {

class AppStart : public ::testing::Test {
protected:
    CommandLine Line(const QString& document = {}) {
        CommandLine line;
        line.settingsDir = dir.path();
        line.document = document;
        // Whatever the store says, no real serial device is ever opened here.
        for (int n = 1; n <= 4; ++n) {
            line.devices.emplace_back(n, dir.filePath(QStringLiteral("none")).toStdString());
        }
        return line;
    }
    QTemporaryDir dir;
    ScriptedPrompts prompts;
};

TEST_F(AppStart, ShownWindowWithANewOrTheGivenDocument) {
    const QString cfg = dir.filePath(QStringLiteral("site.cfg"));
    QFile(cfg).open(QIODevice::WriteOnly);
    for (const auto& [document, title] :
         {std::pair{QString(), u"Untitled - Kestrel"}, std::pair{cfg, u"site.cfg - Kestrel"}}) {
        CKestrelApp app(&prompts);
        ASSERT_TRUE(app.InitInstance(Line(document)));
        ASSERT_NE(app.MainFrame(), nullptr);
        EXPECT_TRUE(app.MainFrame()->isVisible());
        EXPECT_EQ(app.MainFrame()->windowTitle(), title);
        EXPECT_EQ(app.MainFrame()->PaneText(59142), u"COM: 1");
        EXPECT_FALSE(app.MainFrame()->windowIcon().isNull());
        app.MainFrame()->close();
    }
    // The store lives in the folder given, not in the user's own settings.
    EXPECT_TRUE(QFile::exists(dir.filePath(QStringLiteral("Verdanne Ltd./Kestrel.conf"))));
}

TEST_F(AppStart, MissingDocumentEndsTheStart) {
    CKestrelApp app(&prompts);
    EXPECT_FALSE(app.InitInstance(Line(dir.filePath(QStringLiteral("missing.cfg")))));
    EXPECT_EQ(app.MainFrame(), nullptr);
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].text, u"Failed to open document.");
}

}  // namespace
}  // namespace kestrel::test
