// Pixels of what the screenshot command renders: the popover's colours and the icon's geometry.
#include "TestSupport.hpp"

#include <QColor>
#include <QImage>

#include <gtest/gtest.h>

using namespace qb::test;

namespace {

class ShellImages : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        directory = new TempDir;
        const ProcessResult run = runProcess(QB_SCREENSHOTS_TOOL, {directory->path().string()});
        ASSERT_EQ(run.status, 0) << run.err;
    }
    static void TearDownTestSuite() { delete directory; }
    static QImage image(const std::string& name) {
        QImage loaded(QString::fromStdString((*directory / name).string()));
        EXPECT_FALSE(loaded.isNull()) << name;
        return loaded.convertToFormat(QImage::Format_ARGB32);
    }
    static inline TempDir* directory = nullptr;
};

bool near(QColor a, QColor b, int tolerance = 14) {
    return std::abs(a.red() - b.red()) <= tolerance &&
           std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

// Whether a pixel of this colour lies in the header's right half, where the chip is.
bool chipShows(const QImage& popover, QColor colour) {
    for (int y = 16; y < 34; ++y)
        for (int x = 150; x < popover.width() - 16; ++x)
            if (near(popover.pixelColor(x, y), colour, 8)) return true;
    return false;
}

// The bounding box of the pixels with some ink.
QRect ink(const QImage& icon, int threshold = 40) {
    QRect box;
    for (int y = 0; y < icon.height(); ++y)
        for (int x = 0; x < icon.width(); ++x)
            if (qAlpha(icon.pixel(x, y)) > threshold) box |= QRect(x, y, 1, 1);
    return box;
}

int maxAlpha(const QImage& icon) {
    int most = 0;
    for (int y = 0; y < icon.height(); ++y)
        for (int x = 0; x < icon.width(); ++x)
            most = std::max(most, qAlpha(icon.pixel(x, y)));
    return most;
}

const QColor cyan(129, 232, 245);
const QColor magenta(255, 102, 143);
const QColor dimWhite(120, 120, 120); // white at 45 % over the background

} // namespace

TEST_F(ShellImages, PopoverColoursFollowTheState) {
    for (const char* name : {"popover-signed-out", "popover-idle", "popover-playing",
                             "popover-capture-paused", "popover-offline", "popover-attention"}) {
        const QImage popover = image(std::string(name) + ".png");
        EXPECT_EQ(popover.width(), 300) << name;
        EXPECT_EQ(popover.pixelColor(2, 2), QColor(10, 10, 10)) << name;
        EXPECT_EQ(popover.pixelColor(299, popover.height() - 1), QColor(10, 10, 10)) << name;
    }
    EXPECT_TRUE(chipShows(image("popover-signed-out.png"), magenta));
    EXPECT_TRUE(chipShows(image("popover-idle.png"), cyan));
    EXPECT_TRUE(chipShows(image("popover-playing.png"), cyan));
    EXPECT_TRUE(chipShows(image("popover-offline.png"), magenta));
    EXPECT_TRUE(chipShows(image("popover-attention.png"), magenta));
    EXPECT_TRUE(chipShows(image("popover-capture-paused.png"), dimWhite));
    EXPECT_FALSE(chipShows(image("popover-capture-paused.png"), magenta));
    // The same layout at twice the pixels.
    EXPECT_EQ(image("popover-playing@2x.png").width(), 600);
}

TEST_F(ShellImages, IconMarkAndBadgesSitWhereTheyShould) {
    // Without a badge the mark fills (2.6, 2.6, 12.8, 12.8); at 2x that is pixels 5–30.
    const QImage plain = image("icon-none@2x.png");
    EXPECT_EQ(plain.size(), QSize(36, 36));
    const QRect mark = ink(plain);
    EXPECT_GE(mark.left(), 5);
    EXPECT_GE(mark.top(), 5);
    EXPECT_LE(mark.right(), 30);
    EXPECT_LE(mark.bottom(), 30);
    EXPECT_GE(mark.width(), 20);
    EXPECT_EQ(image("icon-none@1x.png").size(), QSize(18, 18));

    // With a badge the mark keeps to (2.6, 2.6, 9.2, 10.0) in top-left pixels: 5–23 by 5–25,
    // and the badge's circle is centred at (15.3, 15.3) points.
    for (const char* badge : {"dot", "ring", "triangle"}) {
        QImage icon = image(std::string("icon-") + badge + "@2x.png");
        const QImage markOnly = icon.copy(0, 0, 26, 26);
        const QRect m = ink(markOnly);
        EXPECT_LE(m.right(), 23) << badge;
        EXPECT_LE(m.bottom(), 25) << badge;
        EXPECT_GE(ink(icon).right(), 33) << badge;
        EXPECT_GE(ink(icon).bottom(), 34) << badge;
    }
    EXPECT_GT(qAlpha(image("icon-dot@2x.png").pixel(30, 30)), 200);
    EXPECT_LT(qAlpha(image("icon-ring@2x.png").pixel(30, 30)), 60);
    EXPECT_GT(qAlpha(image("icon-ring@2x.png").pixel(35, 30)), 120);
    EXPECT_GT(qAlpha(image("icon-triangle@2x.png").pixel(29, 32)), 200);
    EXPECT_LT(qAlpha(image("icon-triangle@2x.png").pixel(25, 25)), 60);

    // Dimmed: the larger mark at alpha 0.45 and no badge.
    for (const char* badge : {"none", "dot", "ring", "triangle"}) {
        const QImage dimmed = image(std::string("icon-") + badge + "-dimmed@2x.png");
        EXPECT_NEAR(maxAlpha(dimmed), 115, 3) << badge;
        EXPECT_EQ(ink(dimmed, 40 * 0.45), mark) << badge;
    }
    // Without the mark resource, the zigzag stands in the same place.
    const QRect zigzag = ink(image("icon-fallback@2x.png"));
    EXPECT_GE(zigzag.left(), 3);
    EXPECT_LE(zigzag.right(), 32);
    EXPECT_GT(zigzag.width(), 20);
}

// A real tray (trayer on Xvfb) holds the icon, and a click on it opens the popover beneath.
TEST(TrayScreenshot, TheIconSitsInTheTrayAndThePopoverOpensUnderIt) {
    for (const char* program : {"/usr/bin/Xvfb", "/usr/bin/trayer", "/usr/bin/xdotool"})
        if (!std::filesystem::exists(program))
            QB_SKIP_OR_FAIL(program << " is not installed (scripts/install-deps)");
    TempDir dir;
    const ProcessResult run = runProcess(
        (sourceDir() / "scripts" / "screenshots").string(), {dir.path().string()},
        {{"QB_SCREENSHOTS_TOOL", QB_SCREENSHOTS_TOOL}, {"QB_EXECUTABLE", QB_EXECUTABLE}});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    QImage screen(QString::fromStdString((dir / "tray-and-popover.png").string()));
    ASSERT_FALSE(screen.isNull());

    // The tray is the light strip in the top right corner; the icon's ink is dark on it.
    int inkInTray = 0;
    for (int y = 0; y < 26; ++y)
        for (int x = screen.width() - 30; x < screen.width(); ++x)
            if (qGray(screen.pixel(x, y)) < 80) ++inkInTray;
    EXPECT_GT(inkInTray, 10);

    // The popover: a 300-point panel of the background colour right under the tray.
    int left = -1, right = -1;
    const int row = 40;
    for (int x = 0; x < screen.width(); ++x) {
        if (screen.pixelColor(x, row) == QColor(10, 10, 10)) {
            if (left < 0) left = x;
            right = x;
        }
    }
    EXPECT_EQ(right - left + 1, 300);
    EXPECT_GT(left, screen.width() / 2);
    EXPECT_NE(screen.pixelColor(left + 150, 10), QColor(10, 10, 10)); // it starts below the tray
}
