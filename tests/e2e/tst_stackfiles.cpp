#include "MessageBoxCatcher.h"
#include "SessionHarness.h"

#include "acquire/Recipe.h"
#include "acquire/RecipeSession.h"
#include "imaging/StackReader.h"
#include "session/RegionScan.h"
#include "views/AllInFocusWindow.h"
#include "views/HeightMapView.h"
#include "views/PictureExport.h"
#include "views/VideoStack.h"
#include "views/VideoView.h"
#include "views/VideoWindow.h"

#include <QBuffer>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QtTest>

// Whole-frame stacks, the files a session writes, and the fused picture, read
// back as microscopy tools read them (tifffile, xmllint against the schema).
class TestStackFiles : public QObject
{
    Q_OBJECT

    SessionHarness h;
    QTemporaryDir dir;

    // What tifffile and the schema make of a file.
    QJsonObject readBack(const QString& file)
    {
        const QString schema = qEnvironmentVariable("TESSAN_OME_XSD");
        QProcess python;
        python.start(QStringLiteral("/usr/bin/python3"), {QFINDTESTDATA("../imaging/check_ome.py"), file, schema});
        python.waitForFinished(60000);
        const QJsonObject seen = QJsonDocument::fromJson(python.readAllStandardOutput()).object();
        if (seen.isEmpty() || !seen.value("valid").toBool())
            qWarning() << python.readAllStandardError() << seen.value("xmllint").toString() << schema;
        return seen;
    }

private slots:
    void init()
    {
        h = SessionHarness();
        QVERIFY(h.start());
    }

    void cleanup()
    {
        h.session.reset();
        h.server.reset();
    }

    void stacks_data()
    {
        QTest::addColumn<bool>("fullFrame");
        QTest::addColumn<QSize>("plane");
        QTest::newRow("small") << false << QSize(168, 140);
        QTest::newRow("full frame") << true << QSize(800, 600);
    }

    void stacks()
    {
        QFETCH(bool, fullFrame);
        QFETCH(QSize, plane);
        Session* s = h.session.get();
        QVERIFY(!s->fullFrameCheck->isChecked());
        QVERIFY(!s->fileSaveStackAction->isEnabled());
        emit s->videoWindow->ComboBox3->activated(1);
        QVERIFY(h.moveTo(QStringLiteral("37.835"), QStringLiteral("25.1625"), QStringLiteral("1000")));
        s->frameCountSelector->setValue(4);
        s->fullFrameCheck->setChecked(fullFrame);
        h.log.clear();
        s->focusStackButton->click();
        QVERIFY(QTest::qWaitFor([s] { return !s->stackAcquiring; }, 60000));
        QVERIFY(h.settle());

        // The chain of a small stack: move, picture, move, picture...; whole frames are the video request.
        const QString picture = h.info.requestPrefix + (fullFrame ? "f=p&ps=2" : "f=p&ps=2&x=16&y=30&inset=1");
        QStringList chain;
        for (const QString& target : h.log)
            if (target.contains("f=m&b=y"))
                chain << QStringLiteral("move");
            else if (target.contains("f=p&"))
                chain << (target.endsWith(picture) ? QStringLiteral("picture") : target);
        QCOMPARE(chain.join(' '), QStringLiteral("move picture move picture move picture move picture"));
        QCOMPARE(s->stackZ, QVector<double>({9250, 9750, 10250, 10750}));
        QCOMPARE(s->insetStack->count(), 4);
        for (const StackPlane& p : s->insetStack->planes()) {
            QCOMPARE(p.isEncoded(), fullFrame);
            QCOMPARE(p.size(), plane);
            QCOMPARE(p.image().size(), plane);
        }
        s->zSlider->setValue(1);
        QCOMPARE(s->zCoord->text(), QStringLiteral("975"));
        QCOMPARE(s->allInFocusButton->isEnabled(), fullFrame);

        // Save Stack: Z x Y x X x 3, the scale, the step and each plane's place in µm.
        QVERIFY(s->fileSaveStackAction->isEnabled());
        QSignalSpy saved(s, &Session::stackSaved);
        s->saveStackTo(dir.filePath(QStringLiteral("stack")));
        QVERIFY(saved.wait(60000));
        QCOMPARE(saved.at(0).at(1).toString(), QString());
        const QJsonObject seen = readBack(dir.filePath(QStringLiteral("stack.ome.tif")));
        QVERIFY(seen.value("ome").toBool());
        QVERIFY(seen.value("valid").toBool());
        QCOMPARE(seen["series"][0]["shape"].toArray(), QJsonArray({4, plane.height(), plane.width(), 3}));
        QVERIFY(seen["compression"].toArray() != QJsonArray({1}));
        const QJsonObject image = seen["images"][0].toObject();
        QCOMPARE(image["name"].toString(), h.info.scope.slides.value(0));
        QCOMPARE(image["PhysicalSizeX"].toString().toDouble(), double(s->scopeInfo.mppX));
        QCOMPARE(image["PhysicalSizeZ"].toString().toDouble(), 50.0);
        QCOMPARE(image["PhysicalSizeZUnit"].toString(), QStringLiteral("µm"));
        QCOMPARE(image["planes"][2].toArray().last(), QJsonValue("µm"));

        if (!fullFrame)
            return;
        // All in Focus: a window with the picture and its height map, saved with both.
        QSignalSpy fused(s, &Session::fusionFinished);
        s->allInFocusButton->click();
        QCOMPARE(s->allInFocusButton->text(), QStringLiteral("Cancel"));
        QVERIFY(fused.wait(60000));
        QVERIFY(!fused.at(0).at(0).toBool());
        AllInFocusWindow* window = s->allInFocusWindow;
        QVERIFY(window);
        QVERIFY(window->isVisible());
        QVERIFY(s->fileSaveAllInFocusAction->isEnabled());
        QCOMPARE(window->windowTitle(), QStringLiteral("Tessan: All in Focus"));
        QCOMPARE(window->result().picture.size(), plane);
        window->heightButton->click();
        QVERIFY(window->view->showsHeight());
        QVERIFY(window->view->heightPicture().size() == plane);
        QSignalSpy written(window, &AllInFocusWindow::saved);
        window->saveTo(dir.filePath(QStringLiteral("fused.ome.tif")), PictureExport::OmeTiff);
        QVERIFY(written.wait(60000));
        QVERIFY(written.at(0).at(1).toString().isEmpty());
        const QJsonObject both = readBack(dir.filePath(QStringLiteral("fused.ome.tif")));
        QVERIFY(both.value("valid").toBool());
        QCOMPARE(both["series"][0]["shape"].toArray(), QJsonArray({600, 800, 3}));
        QCOMPARE(both["series"][1]["shape"].toArray(), QJsonArray({600, 800}));
        QCOMPARE(both["series"][1]["dtype"].toString(), QStringLiteral("float32"));

        // A fusion can be stopped; the window keeps the last result.
        s->allInFocusButton->click();
        s->allInFocusButton->click();
        QVERIFY(fused.wait(60000));
        QVERIFY(fused.at(1).at(0).toBool());
        QCOMPARE(s->allInFocusButton->text(), QStringLiteral("All in Focus"));
        QCOMPARE(window->result().picture.size(), plane);
    }

    void positions_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("plane");
        QTest::addColumn<QList<double>>("at"); // stage x, y and z of the top-left pixel in µm
        // 800 x 600 frames at 0.5 µm per pixel, centred on x 37835, y 25162.5 at z 1000 µm
        QTest::newRow("picture") << "picture" << 0 << QList<double>{37635, 25012.5, 1000};
        // the sampling region's corner lies at (16, 30) in the frame; plane 2 half a step above the start
        QTest::newRow("small stack") << "stack" << 2 << QList<double>{37643, 25027.5, 1025};
        QTest::newRow("full-frame stack") << "full" << 2 << QList<double>{37635, 25012.5, 1025};
        QTest::newRow("all in focus") << "fused" << 0 << QList<double>{37635, 25012.5, 1000};
        // one tile centred on x 20000, y 15000, focus kept
        QTest::newRow("mosaic") << "mosaic" << 0 << QList<double>{19800, 14850, 1000};
    }

    // Every file places its picture by the stage position of its top-left pixel.
    void positions()
    {
        QFETCH(QString, file);
        QFETCH(int, plane);
        QFETCH(QList<double>, at);
        Session* s = h.session.get();
        s->videoWindow->ComboBox3->setCurrentIndex(1); // the scan's size too
        emit s->videoWindow->ComboBox3->activated(1);
        QVERIFY(h.moveTo(QStringLiteral("37.835"), QStringLiteral("25.1625"), QStringLiteral("1000")));
        const QString path = dir.filePath(file + ".ome.tif");
        if (file == "picture") {
            SessionHarness::answerSaveDialog(s->videoWindow->imageView, dir.filePath(file), [](QFileDialog* dialog) {
                dialog->selectNameFilter(dialog->nameFilters().value(PictureExport::OmeTiff));
                emit dialog->filterSelected(dialog->selectedNameFilter());
            });
            s->videoWindow->PushButton14->click();
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(path), 30000);
        } else if (file == "mosaic") {
            QTRY_VERIFY(s->scopeInfo.mppX > 0.0f && s->clock.countdownTimer.isActive());
            for (QPushButton* corner : {s->PushButton6, s->PushButton7}) {
                s->xCoord->setText(QStringLiteral("20"));
                s->yCoord->setText(QStringLiteral("15"));
                corner->click();
            }
            MessageBoxCatcher catcher;
            QSignalSpy finished(s->regionScan, &RegionScan::mosaicFinished);
            s->scanRegionButton->click();
            QVERIFY(finished.wait(60000));
            QSignalSpy saved(s->regionScan, &RegionScan::saved);
            s->regionScan->saveMosaicTo(path);
            QVERIFY(saved.wait(60000));
        } else {
            s->frameCountSelector->setValue(4);
            s->fullFrameCheck->setChecked(file != "stack");
            s->focusStackButton->click();
            QVERIFY(QTest::qWaitFor([s] { return !s->stackAcquiring; }, 60000));
            QSignalSpy saved(s, &Session::stackSaved);
            QSignalSpy fused(s, &Session::fusionFinished);
            if (file == "fused") {
                s->allInFocusButton->click();
                QVERIFY(fused.wait(60000));
                QSignalSpy written(s->allInFocusWindow.data(), &AllInFocusWindow::saved);
                s->allInFocusWindow->saveTo(path, PictureExport::OmeTiff);
                QVERIFY(written.wait(60000));
            } else {
                s->saveStackTo(path);
                QVERIFY(saved.wait(60000));
            }
        }
        const QJsonObject seen = readBack(path);
        QVERIFY(seen.value("valid").toBool());
        const QJsonArray position = seen["images"][0]["planes"][plane].toArray();
        for (int i = 0; i < 3; ++i)
            QVERIFY2(qAbs(position[i].toDouble() - at[i]) < 1e-3, qPrintable(QJsonDocument(position).toJson()));
    }

    // The colours span the specimen's relief, not a few stray heights; a flat map has one colour.
    void heightColours()
    {
        cv::Mat height(100, 100, CV_32F);
        for (int y = 0; y < 100; ++y)
            for (int x = 0; x < 100; ++x)
                height.at<float>(y, x) = 10.0f + x * 0.1f;
        height.at<float>(0, 0) = 5000.0f;
        height.at<float>(1, 0) = std::numeric_limits<float>::quiet_NaN();
        double low = 0, high = 0;
        HeightMapView::colourRange(height, &low, &high);
        QVERIFY2(low >= 10.0, qPrintable(QString::number(high)));
        QVERIFY2(low < 10.2, qPrintable(QString::number(high)));
        QVERIFY2(high > 19.7, qPrintable(QString::number(high)));
        QVERIFY2(high < 20.0, qPrintable(QString::number(high)));
        const QImage flat = HeightMapView::colourize(cv::Mat(4, 4, CV_32F, cv::Scalar(7.0)), 7.0, 7.0);
        QVERIFY(flat.size() == QSize(4, 4));
        QVERIFY(flat.pixel(0, 0) == flat.pixel(3, 3));
    }

    // A file that cannot be written is reported, and nothing is left behind.
    void failedWrites()
    {
        QImage picture(64, 48, QImage::Format_RGB32);
        picture.fill(Qt::gray);
        for (int type : {PictureExport::Jpeg, PictureExport::Png, PictureExport::OmeTiff}) {
            const auto format = PictureExport::Format(type);
            const QString path = dir.filePath("missing/picture." + PictureExport::suffixOf(format));
            QVERIFY(!PictureExport::write(path, format, picture, "text", OmeImage()).isEmpty());
            QVERIFY(!QFileInfo::exists(dir.filePath("missing")));
        }
    }

    // Save as Recipe: what tessan-acquire reads back, the stack as the page sets it.
    void savedRecipe()
    {
        h.session->frameCountSelector->setValue(7);
        const QString path = dir.filePath("window.yaml");
        QVERIFY(h.session->saveRecipeTo(path));
        Recipe recipe;
        QString error;
        QVERIFY2(Recipe::load(path, &recipe, &error), qPrintable(error));
        QCOMPARE(recipe.microscope, h.session->sessionInfo.scope.name);
        QCOMPARE(recipe.steps.size(), 3);
        QCOMPARE(recipe.steps[2].planes, 7);
        QVERIFY(!h.session->saveRecipeTo(dir.filePath("missing/window.yaml")));
        QVERIFY(h.infoText().contains("***The recipe could not be saved"));
    }

    void runRecipe_data()
    {
        QTest::addColumn<QString>("microscope");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("this microscope") << QString() << "Recipe done: every step";
        QTest::newRow("another microscope") << "Orvex-BF-40x"
                                            << "***The recipe was not run: it is for Orvex-BF-40x";
    }

    // File > Run Recipe on the window's own session: the stage is the recipe's until it ends.
    void runRecipe()
    {
        QFETCH(QString, microscope);
        QFETCH(QString, outcome);
        const SessionInfo& info = h.session->sessionInfo;
        QTRY_VERIFY(h.session->scopeInfo.mppX > 0 && !h.session->stageBusy());
        QFile file(dir.filePath("run.yaml"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral("server: %1\nmicroscope: %2\nuser: demo\nslide: s\noutput: %3\nsteps:\n"
                                  "  - goto: {x: 12.5, y: 20.25}\n  - picture: {format: png}\n")
                       .arg(info.host, microscope.isEmpty() ? info.scope.name : microscope, QTest::currentDataTag())
                       .toUtf8());
        file.close();
        QCOMPARE(h.session->runRecipeFrom(file.fileName()), microscope.isEmpty());
        QCOMPARE(h.session->stageBusy(), microscope.isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(!h.session->recipeRunning(), 60000);
        QVERIFY2(h.infoText().contains(outcome), qPrintable(h.infoText()));
        QCOMPARE(QFile::exists(dir.filePath(QTest::currentDataTag() + QStringLiteral("/002-picture.png"))),
                 microscope.isEmpty());
    }

    // A goto, a quick autofocus and a 3-plane stack (planes 2.33 µm apart, z
    // sent to the millionth), by hand in the window and from a recipe, send the
    // same stage requests to servers of the same seed.
    void recipeSendsWhatTheWindowSends()
    {
        // Left out as the window's own: the frame its live view fetches after
        // every move and autofocus (a frame counts after a stack's move only),
        // the time and position queries its timers pace, and the tokens.
        const auto stageRequests = [](const QStringList& log) {
            static const QRegularExpression stage(QStringLiteral("[?&]f=[marp](&|$)"));
            static const QRegularExpression token(QStringLiteral("auth=[^&]*"));
            QStringList sent;
            for (const QString& target : log.filter(stage))
                if (!target.contains(QLatin1String("f=p&")) || sent.value(sent.size() - 1).contains("f=m&b=y"))
                    sent << QString(target).replace(token, QStringLiteral("auth=TOKEN"));
            return sent;
        };
        SessionHarness byHand;
        QVERIFY(byHand.start());
        QTRY_VERIFY(byHand.session->scopeInfo.mppX > 0 && !byHand.session->stageBusy());
        CoordinateTriple mark;
        mark.x = 125000;
        mark.y = 202500;
        mark.z = 15000;
        byHand.session->goTo(mark);
        QTRY_VERIFY_WITH_TIMEOUT(!byHand.session->stageBusy(), 30000);
        byHand.session->doCoarseAuto();
        QTRY_VERIFY_WITH_TIMEOUT(!byHand.session->stageBusy(), 30000);
        byHand.session->frameCountSelector->setValue(3);
        byHand.session->frameRangeSelector->setValue(7);
        byHand.session->fullFrameCheck->setChecked(true);
        byHand.session->beginZAcquire();
        QTRY_VERIFY_WITH_TIMEOUT(!byHand.session->stageBusy(), 30000);

        OrvexServer server;
        QStringList log;
        connect(&server, &OrvexServer::requestReceived, this, [&log](const QString& target) { log << target; });
        QVERIFY(server.listen(0));
        const QByteArray text = QStringLiteral("server: %1\nmicroscope: %2\nuser: demo\nslide: s\noutput: agree\n"
                                               "steps:\n  - goto: {x: 12.5, y: 20.25, z: 1500}\n  - autofocus: quick\n"
                                               "  - stack: {planes: 3, range: 7}\n")
                                    .arg(server.host(), server.scopeNames().value(0))
                                    .toUtf8();
        Recipe recipe;
        RecipeSession fromRecipe;
        QString error;
        QVERIFY2(Recipe::parse(text, dir.filePath("agree.yaml"), &recipe, &error) &&
                     RecipeSession::prepareRun(dir.filePath("agree.yaml"), recipe, &fromRecipe.journal, &error),
                 qPrintable(error));
        QSignalSpy finished(&fromRecipe, &RecipeSession::finished);
        fromRecipe.start(recipe, QStringLiteral("orvex-demo"), false);
        QVERIFY(finished.wait(60000));
        QCOMPARE(finished.value(0).value(0).value<RecipeRunner::Outcome>(), RecipeRunner::Outcome::Done);
        QCOMPARE(stageRequests(log), stageRequests(byHand.log));
    }

    void saveImage_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("file");
        QTest::newRow("JPEG") << int(PictureExport::Jpeg) << "frame.jpg";
        QTest::newRow("PNG") << int(PictureExport::Png) << "frame.png";
        QTest::newRow("OME-TIFF") << int(PictureExport::OmeTiff) << "frame.ome.tif";
    }

    // What is saved is the frame shown when "Save Image" was pressed, with its own text.
    void saveImage()
    {
        QFETCH(int, type);
        QFETCH(QString, file);
        Session* s = h.session.get();
        VideoView* view = s->videoWindow->imageView;
        const QImage shown = view->displayPicture().convertToFormat(QImage::Format_RGB888);
        const CoordinateTriple at = s->currentCoords;
        SessionHarness::answerSaveDialog(view, dir.filePath(QStringLiteral("frame")), [&](QFileDialog* dialog) {
            CoordinateTriple elsewhere;
            s->videoWindow->setPhysical(elsewhere);
            QImage later(640, 480, QImage::Format_RGB32);
            later.fill(Qt::magenta);
            s->videoWindow->updateImage(later);
            dialog->selectNameFilter(dialog->nameFilters().value(type));
            emit dialog->filterSelected(dialog->selectedNameFilter());
        });
        s->videoWindow->PushButton14->click();
        const QString path = dir.filePath(file);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(path), 30000);

        QImage read = QImage(path).convertToFormat(QImage::Format_RGB888);
        StackReader tiff;
        cv::Mat plane;
        if (type == PictureExport::OmeTiff && tiff.open(path, nullptr) && tiff.readPlane(0, &plane, nullptr))
            read = QImage(plane.data, plane.cols, plane.rows, int(plane.step), QImage::Format_RGB888).copy();
        QCOMPARE(read.size(), shown.size());
        qint64 difference = 0;
        for (int y = 0; y < read.height(); ++y)
            for (int x = 0; x < read.width() * 3; ++x)
                difference += qAbs(read.constScanLine(y)[x] - shown.constScanLine(y)[x]);
        // lossless formats exactly; JPEG at quality 95 within a level or two on average
        QVERIFY2(difference <= (type == PictureExport::Jpeg ? 3 * 640 * 480 * 3 : 0),
                 qPrintable(QString::number(difference)));

        const QString stageX = QString::asprintf("%.4f", at.x * 0.0001);
        if (type == PictureExport::OmeTiff) {
            const QJsonObject seen = readBack(path);
            QVERIFY(seen.value("valid").toBool());
            QCOMPARE(seen["images"][0]["PhysicalSizeX"].toString().toDouble(), double(s->scopeInfo.mppX));
            QCOMPARE(seen["images"][0]["planes"][0][0].toDouble(), at.x * 0.1 - 160.0); // 320 pixels left
        } else {
            QVERIFY(QImageReader(path).text(QStringLiteral("Tessan")).contains("Stage X: " + stageX + " mm"));
        }
        if (type == PictureExport::Jpeg) {
            // quality 95 is well larger than the toolkit's default of 75
            QBuffer at75;
            at75.open(QIODevice::WriteOnly);
            shown.save(&at75, "JPEG");
            QVERIFY(QFileInfo(path).size() > at75.size() * 3 / 2);
        }
    }
};

QTEST_MAIN(TestStackFiles)
#include "tst_stackfiles.moc"
