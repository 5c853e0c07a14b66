// SPDX-License-Identifier: MIT
#include "formats/format_table.h"
#include "gui_support.h"
#include "info/info_document.h"
#include "test_support.h"
#include "thread_support.h"
#include "viewer/image_view.h"
#include "viewer/viewer_form.h"
#include "viewer/window_dialog.h"

#include "imaging/mapped_memory.h"
#include "platform/error.h"
#include "platform/file_io.h"
#include "platform/gui/dib_qimage.h"
#include "platform/gui/rtf_reader.h"
#include "platform/mul_div.h"
#include "platform/res_strings.h"
#include "thumbs/thumb_maker.h"
#include "tiff/tif_picture.h"

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QProcess>
#include <QScrollBar>
#include <QSpinBox>
#include <QTest>
#include <QTextDocument>
#include <QTextEdit>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

namespace pix {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

std::string Sample(const std::string& name) {
    return std::string(PIXORAMA_SAMPLES_DIR) + "/" + name;
}

QImage Rgb(const QImage& image) { return image.convertToFormat(QImage::Format_RGB888); }

// A shown window with the keyboard, as the user has it.
std::unique_ptr<TViewerForm> OpenForm(const std::string& path) {
    test::EnsureGuiApplication();
    auto form = std::make_unique<TViewerForm>();
    form->resize(640, 480);
    form->show();
    form->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(form.get()));
    form->OpenFile(path);
    return form;
}

// The picture's whole image at 1:1, as the view paints it.
QImage RenderWhole(TImageView& view) {
    view.SetZoom(1);
    const TZoomSize size = view.ZoomedSize();
    return Rgb(view.Render(QRect(0, 0, size.Width, size.Height)));
}

// The window reads the next file ahead on a worker; every test waits for it to end.
class ViewerTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_TRUE(test::AllThreadsEnded()); }
};

// ---- every sample format shows the pixels the command line converts ----

class ViewerSampleTest : public ViewerTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(ViewerSampleTest, ShowsThePixelsOfTheConvertedBmp) {
    const std::string path = Sample(GetParam());
    test::TTempDir dir;
    const QString bmp = QString::fromStdString(dir.File("out.bmp"));
    QProcess cli;
    cli.start(PIXORAMA_CLI, {"convert", QString::fromStdString(path), bmp});
    ASSERT_TRUE(cli.waitForFinished(30000));
    ASSERT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
    // Qt's own BMP reader decodes the file the command line wrote.
    const QImage expected = Rgb(QImage(bmp));
    ASSERT_FALSE(expected.isNull());

    auto form = OpenForm(path);
    ASSERT_NE(form->Current(), nullptr);
    ASSERT_TRUE(form->Current()->Ok()) << form->Current()->Error;
    EXPECT_TRUE(form->windowTitle().startsWith(QString(GetParam())));
    EXPECT_EQ(RenderWhole(*form->View()), expected);
}

INSTANTIATE_TEST_SUITE_P(Samples, ViewerSampleTest,
                         ::testing::Values("grating-640x480.bmp", "mask-320x240.bmp",
                                           "sixteen-colours-400x300.bmp", "particles-1024x768.jpg",
                                           "false-colour-palette-384x288.png",
                                           "sem-16bit-512x384.tif", "lzw-predictor-600x450.tif",
                                           "palette-320x240.tif", "mosaic-4-fields.tif",
                                           "vexa-rings-256x192.psd", "vexa-window-320x200.tim"));

// The images of a multi-image file are those that loading the file image after image gives.
TEST_F(ViewerTest, CtrlPageKeysWalkTheImagesOfAFile) {
    const std::string path = Sample("mosaic-4-fields.tif");
    std::vector<QImage> expected;
    {
        TLwMappedStream stream(path, fmOpenRead | fmShareDenyWrite);
        TTifPicture picture;
        picture.ReadFileHeader(stream);
        bool more = true;
        while (more) {
            more = picture.LoadFromStream(stream);
            expected.push_back(Rgb(DibToQImage(*picture.Section())));
        }
    }
    ASSERT_EQ(expected.size(), 4u);

    auto form = OpenForm(path);
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(form->Current()->Index, i);
        EXPECT_EQ(form->Current()->Count, 4);
        EXPECT_TRUE(form->windowTitle().contains(QString("[%1/4]").arg(i + 1)));
        EXPECT_EQ(RenderWhole(*form->View()), expected[static_cast<std::size_t>(i)]) << i;
        QTest::keyClick(form.get(), Qt::Key_PageDown, Qt::ControlModifier);
    }
    EXPECT_EQ(form->Current()->Index, 3);  // no image after the last
    QTest::keyClick(form.get(), Qt::Key_PageUp, Qt::ControlModifier);
    EXPECT_EQ(form->Current()->Index, 2);

    // The zoom keys.
    const std::vector<std::pair<Qt::Key, double>> zooms = {
        {Qt::Key_1, 1}, {Qt::Key_Plus, 2}, {Qt::Key_Plus, 3}, {Qt::Key_Minus, 2}};
    for (const auto& [key, zoom] : zooms) {
        QTest::keyClick(form.get(), key);
        EXPECT_DOUBLE_EQ(form->View()->Zoom(), zoom);
        EXPECT_FALSE(form->View()->FitMode());
    }
    QTest::keyClick(form.get(), Qt::Key_F);
    EXPECT_TRUE(form->View()->FitMode());
}

// ---- zoom ----

TEST_F(ViewerTest, ReductionsAverageEnlargementsRepeatPixelsAndPaintingMatches) {
    test::EnsureGuiApplication();
    TViewImage image = LoadViewImage(Sample("sixteen-colours-400x300.bmp"));
    ASSERT_TRUE(image.Ok());
    TImageView view;
    view.setFrameShape(QFrame::NoFrame);
    view.resize(200, 200);
    view.show();
    view.SetImage(&image);
    EXPECT_TRUE(view.FitMode());
    EXPECT_DOUBLE_EQ(view.Zoom(), 0.5);
    const QImage whole = RenderWhole(view);

    // Each pixel at 1/2 is the mean of the 2 × 2 pixels it covers, rounded half up.
    view.SetZoom(0.5);
    const QImage half = Rgb(view.Render(QRect(0, 0, 200, 150)));
    ASSERT_EQ(half.size(), QSize(200, 150));
    for (int y = 0; y < 150; ++y)
        for (int x = 0; x < 200; ++x) {
            int sum[3] = {};
            for (int k = 0; k < 4; ++k) {
                const QRgb c = whole.pixel(2 * x + k % 2, 2 * y + k / 2);
                sum[0] += qRed(c);
                sum[1] += qGreen(c);
                sum[2] += qBlue(c);
            }
            const QRgb got = half.pixel(x, y);
            ASSERT_EQ(qRed(got), (sum[0] + 2) / 4) << x << "," << y;
            ASSERT_EQ(qGreen(got), (sum[1] + 2) / 4) << x << "," << y;
            ASSERT_EQ(qBlue(got), (sum[2] + 2) / 4) << x << "," << y;
        }

    // At 3 each pixel is a 3 × 3 square; the viewport paints what Render gives.
    view.SetZoom(3);
    view.horizontalScrollBar()->setValue(301);
    view.verticalScrollBar()->setValue(152);
    const QImage shown = Rgb(view.viewport()->grab().toImage());
    ASSERT_EQ(shown.size(), QSize(200, 200));
    EXPECT_EQ(shown, Rgb(view.Render(QRect(301, 152, 200, 200))));
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 200; ++x)
            ASSERT_EQ(shown.pixel(x, y), whole.pixel((301 + x) / 3, (152 + y) / 3))
                << x << "," << y;

    // The wheel zooms around the pointer: the pixel under it stays under it.
    const QPointF pointer(37, 151);
    const QPoint before = view.PixelAt(pointer);
    QWheelEvent wheel(pointer, view.viewport()->mapToGlobal(pointer), QPoint(), QPoint(0, -120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(view.viewport(), &wheel);
    EXPECT_DOUBLE_EQ(view.Zoom(), 2);
    EXPECT_EQ(view.PixelAt(pointer), before);
    view.FitToWindow();
    EXPECT_DOUBLE_EQ(view.Zoom(), 0.5);
    view.SetImage(nullptr);
}

// ---- the folder's order ----

TEST_F(ViewerTest, NextAndPreviousFollowTheBrowsersOrderAndKeepOnlyNeighbours) {
    test::TTempDir dir;
    // Without regard to case; names that differ only in case by their bytes. Files that are
    // not images are not visited.
    const std::vector<std::string> order = {"A.bmp",  "a.bmp", "b10.png",
                                            "B2.tif", "c.psd", "Z.jpg"};
    const std::vector<std::pair<const char*, const char*>> files = {
        {"b10.png", "false-colour-palette-384x288.png"},
        {"notes.txt", "mask-320x240.bmp"},
        {"Z.jpg", "particles-1024x768.jpg"},
        {"a.bmp", "grating-640x480.bmp"},
        {"c.psd", "vexa-rings-256x192.psd"},
        {"B2.tif", "sem-16bit-512x384.tif"},
        {"A.bmp", "mask-320x240.bmp"}};
    for (const auto& [name, sample] : files) fs::copy_file(Sample(sample), dir.Path() / name);

    auto form = OpenForm(dir.File("b10.png"));
    const auto shown = [&] { return fs::path(form->Current()->Path).filename().string(); };
    EXPECT_EQ(shown(), "b10.png");
    const TDibPicture* first = form->Current()->Picture.get();
    QTest::keyClick(form.get(), Qt::Key_Home);
    for (std::size_t i = 0; i < order.size(); ++i) {
        EXPECT_EQ(shown(), order[i]);
        EXPECT_LE(form->KeptFiles().size(), 2u);
        QTest::keyClick(form.get(), i % 2 ? Qt::Key_Right : Qt::Key_PageDown);
    }
    EXPECT_EQ(shown(), "Z.jpg");  // the end stays
    QTest::keyClick(form.get(), Qt::Key_Left);
    QTest::keyClick(form.get(), Qt::Key_PageUp);
    EXPECT_EQ(shown(), "B2.tif");
    // The image walked away from is kept: going back shows it without reading it again.
    const TDibPicture* b2 = form->Current()->Picture.get();
    QTest::keyClick(form.get(), Qt::Key_Left);
    QTest::keyClick(form.get(), Qt::Key_Right);
    EXPECT_EQ(form->Current()->Picture.get(), b2);
    EXPECT_NE(b2, first);
    // The directory walk was started from a file that has gone: it goes on from its place.
    QTest::keyClick(form.get(), Qt::Key_Left);
    fs::remove(dir.Path() / "b10.png");
    QTest::keyClick(form.get(), Qt::Key_Right);
    EXPECT_EQ(shown(), "B2.tif");
    QTest::keyClick(form.get(), Qt::Key_End);
    EXPECT_EQ(shown(), "Z.jpg");
}

// The next file in the direction of travel is read ahead and then shown from memory;
// besides the shown image only its two neighbours are held.
TEST_F(ViewerTest, ReadsTheNextFileAheadAndKeepsOnlyNeighbours) {
    test::TTempDir dir;
    for (const char* name : {"a.bmp", "b.bmp", "c.bmp", "d.bmp"})
        fs::copy_file(Sample("grating-640x480.bmp"), dir.Path() / name);
    auto form = OpenForm(dir.File("a.bmp"));
    ASSERT_TRUE(test::WaitUntil([&] { return form->ReadingAhead().empty(); }));
    EXPECT_EQ(form->KeptFiles(), std::vector<std::string>{dir.File("b.bmp")});

    // Other bytes under the same date: only a picture read before shows the old ones.
    const auto date = fs::last_write_time(dir.Path() / "b.bmp");
    fs::copy_file(Sample("mask-320x240.bmp"), dir.Path() / "b.bmp",
                  fs::copy_options::overwrite_existing);
    fs::last_write_time(dir.Path() / "b.bmp", date);
    QTest::keyClick(form.get(), Qt::Key_Right);
    EXPECT_EQ(form->Current()->Path, dir.File("b.bmp"));
    EXPECT_EQ(form->Current()->Picture->Width(), 640);
    // Its fitted copy, made ahead too, has the pixels a view of its own would make.
    TViewImage fresh = LoadViewImage(Sample("grating-640x480.bmp"));
    TImageView own;
    own.setFrameShape(form->View()->frameShape());
    own.resize(form->View()->size());
    own.show();
    own.SetImage(&fresh);
    ASSERT_LT(own.Zoom(), 1);
    const QImage expected = Rgb(own.viewport()->grab().toImage());
    const auto painted = [&] { return Rgb(form->View()->viewport()->grab().toImage()); };
    EXPECT_EQ(painted(), expected);
    ASSERT_TRUE(test::WaitUntil([&] { return form->ReadingAhead().empty(); }));
    EXPECT_EQ(form->KeptFiles(), (std::vector<std::string>{dir.File("c.bmp"), dir.File("a.bmp")}));

    // Turning back reads ahead the other way and lets go of what lies behind.
    QTest::keyClick(form.get(), Qt::Key_Right);
    QTest::keyClick(form.get(), Qt::Key_Left);
    EXPECT_EQ(form->Current()->Path, dir.File("b.bmp"));
    EXPECT_EQ(painted(), expected);  // from the copy it kept when it was left
    ASSERT_TRUE(test::WaitUntil([&] { return form->ReadingAhead().empty(); }));
    own.SetImage(nullptr);
    const std::vector<std::string> kept = form->KeptFiles();
    EXPECT_EQ(kept.size(), 2u);
    EXPECT_NE(std::find(kept.begin(), kept.end(), dir.File("a.bmp")), kept.end());
    EXPECT_NE(std::find(kept.begin(), kept.end(), dir.File("c.bmp")), kept.end());
}

// ---- the display window of 16-bit images ----

TEST_F(ViewerTest, DisplayWindowMapsSamplesOntoTheGreyRamp) {
    auto form = OpenForm(Sample("sem-16bit-512x384.tif"));
    TImageView& view = *form->View();
    ASSERT_TRUE(view.HasWindow());
    const TDibPicture& picture = *form->Current()->Picture;
    const TImgData16& samples = *picture.ImgData16();
    const std::uint16_t* words = samples.Words();
    const auto [lowest, highest] = std::minmax_element(words, words + samples.SampleCount());
    EXPECT_EQ(view.Window().Low, *lowest);
    EXPECT_EQ(view.Window().High, *highest);
    const QImage initial = RenderWhole(view);

    const int low = *lowest + (*highest - *lowest) / 4;
    const int high = *highest - (*highest - *lowest) / 3;
    view.SetWindow(TWindow{low, high});
    EXPECT_TRUE(form->findChild<QLabel*>("Window")->text().contains(QString::number(high)));
    const QImage windowed = RenderWhole(view);
    const RGBQUAD* table = picture.Info()->Colors();
    for (int y = 0; y < picture.Height(); ++y)
        for (int x = 0; x < picture.Width(); ++x) {
            const int s = words[y * picture.Width() + x];
            const int index = s <= low    ? 10
                              : s >= high ? 245
                                          : 10 + MulDiv(235, s - low, high - low);
            const RGBQUAD c = table[index];
            ASSERT_EQ(windowed.pixel(x, y), qRgb(c.rgbRed, c.rgbGreen, c.rgbBlue)) << x << "," << y;
        }
    EXPECT_TRUE(PixelText(picture, 7, 5).contains(QString::number(words[5 * picture.Width() + 7])));

    QTest::keyClick(form.get(), Qt::Key_R);
    EXPECT_EQ(view.Window().Low, *lowest);
    EXPECT_EQ(RenderWhole(view), initial);

    // Dragging with the right button: right moves the centre up, down widens.
    const TWindow start = view.Window();
    const auto mouse = [&](QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
        QMouseEvent event(type, at, view.viewport()->mapToGlobal(at), Qt::RightButton, buttons,
                          Qt::NoModifier);
        QApplication::sendEvent(view.viewport(), &event);
    };
    mouse(QEvent::MouseButtonPress, QPoint(100, 100), Qt::RightButton);
    mouse(QEvent::MouseMove, QPoint(164, 68), Qt::RightButton);
    mouse(QEvent::MouseButtonRelease, QPoint(164, 68), Qt::NoButton);
    const TWindow dragged = DragWindow(start, 64, -32, *lowest, *highest);
    EXPECT_GT(dragged.Low, start.Low);
    EXPECT_LT(dragged.High - dragged.Low, start.High - start.Low);
    EXPECT_EQ(view.Window().Low, dragged.Low);
    EXPECT_EQ(view.Window().High, dragged.High);

    // The dialog: the histogram counts every sample once; a typed edge and a click on the
    // histogram move the window at once, Cancel puts the first one back.
    const std::vector<std::uint32_t> counts = SampleHistogram(samples, 256, *lowest, *highest);
    EXPECT_EQ(std::accumulate(counts.begin(), counts.end(), std::int64_t{0}),
              samples.SampleCount());
    EXPECT_GT(counts.front(), 0u);
    EXPECT_GT(counts.back(), 0u);
    TWindowDialog dialog(view);
    dialog.show();
    dialog.HighBox()->setValue(high);
    EXPECT_EQ(view.Window().High, high);
    auto* histogram = dialog.findChild<QWidget*>("Histogram");
    ASSERT_NE(histogram, nullptr);
    QTest::mouseClick(histogram, Qt::LeftButton, {}, QPoint(dialog.ValueToX(low) + 1, 20));
    EXPECT_NEAR(view.Window().Low, low, (*highest - *lowest) / 200.0);
    EXPECT_EQ(dialog.LowBox()->value(), view.Window().Low);
    dialog.reject();
    EXPECT_EQ(view.Window().Low, dragged.Low);
    EXPECT_EQ(view.Window().High, dragged.High);
}

// ---- files that cannot be shown ----

TEST_F(ViewerTest, AFileThatCannotBeReadShowsItsReadersMessage) {
    test::TTempDir dir;
    const std::vector<std::pair<std::string, std::string>> files = {
        {"junk.tif", "II*\0junk"s},
        {"short.png", "\x89PNG\r\n\x1a\n"},
        {"empty.bmp", ""},
        {"text.psd", "not a picture"},
        {"cut.jpg", "\xff\xd8\xff\xe0"}};
    for (const auto& [name, bytes] : files) {
        test::WriteFile(dir.File(name), bytes);
        std::string expected;
        try {
            CreatePictureForFile(dir.File(name))->LoadFromFile(dir.File(name));
        } catch (const EPixError& e) {
            expected = e.what();
        }
        ASSERT_FALSE(expected.empty()) << name;
        auto form = OpenForm(dir.File(name));
        EXPECT_FALSE(form->Current()->Ok());
        EXPECT_EQ(form->View()->Message().toStdString(), expected) << name;
        EXPECT_TRUE(form->windowTitle().startsWith(QString::fromStdString(name)));
        EXPECT_TRUE(form->View()->viewport()->grab().toImage().size().isValid());
    }

    // A folder without image files says so.
    fs::create_directory(dir.Path() / "empty");
    EXPECT_EQ(OpenForm(dir.File("empty"))->Current()->ErrorId, SViewerNoImageFile.Id);

    // A file removed while it is shown says so when the viewer next reads it.
    fs::copy_file(Sample("grating-640x480.bmp"), dir.Path() / "gone.bmp");
    auto form = OpenForm(dir.File("gone.bmp"));
    ASSERT_TRUE(form->Current()->Ok());
    fs::remove(dir.Path() / "gone.bmp");
    QTest::keyClick(form.get(), Qt::Key_F5);
    EXPECT_EQ(form->Current()->ErrorId, SViewerFileGone.Id);
    EXPECT_TRUE(form->windowTitle().startsWith("gone.bmp"));
}

// Whatever the bytes, a load ends with a picture or a message, and showing it works.
class ViewerHostileTest : public ::testing::TestWithParam<const char*> {};

TEST_P(ViewerHostileTest, EveryCorpusFileLoadsOrSaysWhy) {
    test::EnsureGuiApplication();
    TImageView view;
    view.resize(160, 120);
    const std::string extension = std::string(".") + GetParam();
    // The picture class goes by the name, so each file is read under its format's.
    test::TTempDir dir;
    const std::string path = dir.File("file" + extension);
    for (const auto& entry : fs::directory_iterator(fs::path(PIXORAMA_FUZZ_CORPUS) / GetParam())) {
        fs::copy_file(entry.path(), path, fs::copy_options::overwrite_existing);
        for (int index = 0; index < 3; ++index) {
            TViewImage image = LoadViewImage(path, index);
            EXPECT_NE(image.Ok(), !image.Error.empty()) << entry.path();
            view.SetImage(&image);
            view.FitToWindow();
            if (image.Ok()) {
                EXPECT_FALSE(view.viewport()->grab().isNull());
            }
            view.SetImage(nullptr);
            if (index + 1 >= image.Count) break;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Corpus, ViewerHostileTest,
                         ::testing::Values("tiff", "bmp", "png", "psd", "jpeg"));

// ---- the information panel ----

TEST_F(ViewerTest, InfoPanelShowsTheBrowsersDocumentOfTheShownFile) {
    const auto expected = [](const std::string& path) {
        TThumbInfo entry;
        MakeThumbInfo(path, kDefaultThumbWidth, kDefaultThumbHeight, entry);
        QTextDocument document;
        LoadRtf(BuildInfoDocument(entry, {}, SystemInfoLocale(), kPanelTextLimit), document);
        return document.toPlainText();
    };
    test::TTempDir dir;
    for (const char* name : {"mosaic-4-fields.tif", "sem-16bit-512x384.tif"})
        fs::copy_file(Sample(name), dir.Path() / name);
    auto form = OpenForm(dir.File("mosaic-4-fields.tif"));
    EXPECT_FALSE(form->InfoPanel()->isVisible());
    QTest::keyClick(form.get(), Qt::Key_I);
    ASSERT_TRUE(form->InfoPanel()->isVisible());
    EXPECT_EQ(form->InfoPanel()->toPlainText(), expected(dir.File("mosaic-4-fields.tif")));
    QTest::keyClick(form.get(), Qt::Key_Right);
    EXPECT_EQ(form->InfoPanel()->toPlainText(), expected(dir.File("sem-16bit-512x384.tif")));
    EXPECT_TRUE(form->InfoPanel()->toPlainText().contains("Magnification"));
    QTest::keyClick(form.get(), Qt::Key_I);
    EXPECT_FALSE(form->InfoPanel()->isVisible());
}

}  // namespace
}  // namespace pix
