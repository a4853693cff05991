#include <QImage>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "TestRegistry.h"
#include "ui/FormMessageBox.h"
#include "ui/FormSelect.h"
#include "ui/FormTestCfgList.h"
#include "ui/InfoForm.h"
#include "ui/InputQuery.h"

using namespace kyvo;

class DialogsTest : public QObject {
    Q_OBJECT
  private slots:
    void messageBoxStylesHaveTheirWidthButtonsAndResults_data();
    void messageBoxStylesHaveTheirWidthButtonsAndResults();
    void longMessageWrapsAndPushesTheButtonsDown();
    void messageBoxEndsOnlyThroughItsButtons();
    void inputEnterNeedsTextButOkAcceptsAnEmptyOne();
    void inputEscapeCancels();
    void selectionWithTwoItemsIsNarrowAndPreselectable();
    void configListIsWideEnoughForItsCaptionInTheTitleBar();
    void configListClickOnNoItemDisablesOk();
    void versionDialogShowsTheProgramIconForAMissingLogoAndAnExistingLogo();
};

void DialogsTest::messageBoxStylesHaveTheirWidthButtonsAndResults_data() {
    QTest::addColumn<int>("style");
    QTest::addColumn<int>("width");
    QTest::addColumn<bool>("cancelShown");
    QTest::addColumn<bool>("auxShown");
    QTest::addColumn<int>("okResult");
    QTest::addColumn<int>("cancelResult");
    QTest::newRow("OK") << int(msOk) << 360 << false << false << int(mrOk) << 0;
    QTest::newRow("OK/Cancel") << int(msOkCancel) << 360 << true << false << int(mrOk)
                               << int(mrCancel);
    QTest::newRow("Yes/No/Cancel")
        << int(msYesNoCancel) << 480 << true << true << int(mrYes) << int(mrNo);
    QTest::newRow("Yes/No") << int(msYesNo) << 360 << true << false << int(mrYes) << int(mrNo);
}

void DialogsTest::messageBoxStylesHaveTheirWidthButtonsAndResults() {
    QFETCH(int, style);
    QFETCH(int, width);
    QFETCH(bool, cancelShown);
    QFETCH(bool, auxShown);
    QFETCH(int, okResult);
    QFETCH(int, cancelResult);

    const auto texts = messageButtonEntries(style);
    QVERIFY(texts.ok == 114 || texts.ok == 645);

    for (int button = 0; button < (cancelShown ? 2 : 1); ++button) {
        TForm_OwnMessageBox box;
        box.SetMessage("Caption", "Message", style, "A", "B", "C");
        box.show();
        QCOMPARE(box.width(), width);
        QCOMPARE(box.windowTitle(), QString("Caption"));
        QCOMPARE(box.Button_Cancel->isVisible(), cancelShown);
        QCOMPARE(box.Button_Aux->isVisible(), auxShown);
        QCOMPARE(box.Button_OK->size(), QSize(120, 25));
        // Buttons stand side by side without overlapping, inside the box.
        QVERIFY(box.Button_OK->x() >= 0);
        if (cancelShown) QVERIFY(box.Button_OK->geometry().right() < box.Button_Cancel->x());
        if (auxShown) QVERIFY(box.Button_Cancel->geometry().right() < box.Button_Aux->x());
        QVERIFY((auxShown      ? box.Button_Aux
                 : cancelShown ? box.Button_Cancel
                               : box.Button_OK)
                    ->geometry()
                    .right() < width);
        if (style == msOk) QCOMPARE(box.Button_OK->x(), (width - 120) / 2);
        QTest::mouseClick(button == 0 ? box.Button_OK : box.Button_Cancel, Qt::LeftButton);
        QVERIFY(!box.isVisible());
        QCOMPARE(box.result(), button == 0 ? okResult : cancelResult);
    }
}

void DialogsTest::longMessageWrapsAndPushesTheButtonsDown() {
    TForm_OwnMessageBox shortBox;
    shortBox.SetMessage("", "Short", msYesNoCancel, "Yes", "No", "Cancel");
    TForm_OwnMessageBox longBox;
    longBox.SetMessage("", QString("A long message that has to wrap. ").repeated(12), msYesNoCancel,
                       "Yes", "No", "Cancel");
    QCOMPARE(longBox.width(), 480);
    QCOMPARE(longBox.Label_Message->width(), 440);
    QCOMPARE(longBox.Label_Message->x(), 16);
    QVERIFY(longBox.Label_Message->height() > 2 * shortBox.Label_Message->height());
    for (TForm_OwnMessageBox* box : {&shortBox, &longBox}) {
        QCOMPARE(box->Button_OK->y(), box->Label_Message->geometry().bottom() + 1 + 20);
        QCOMPARE(box->Button_Aux->y(), box->Button_OK->y());
        // No empty strip under the buttons: a 16-pixel margin, as above the label.
        QCOMPARE(box->height(), box->Button_OK->y() + 25 + 16);
    }
    QVERIFY(longBox.Button_OK->y() > shortBox.Button_OK->y());
}

void DialogsTest::messageBoxEndsOnlyThroughItsButtons() {
    TForm_OwnMessageBox box;
    box.SetMessage("", "Save?", msYesNoCancel, "Yes", "No", "Cancel");
    box.show();
    QVERIFY(!(box.windowFlags() & Qt::WindowCloseButtonHint));
    QTest::keyClick(&box, Qt::Key_Escape);
    QVERIFY(box.isVisible());
    box.close();
    QVERIFY(box.isVisible());
    QTest::mouseClick(box.Button_Aux, Qt::LeftButton);
    QVERIFY(!box.isVisible());
    QCOMPARE(box.result(), int(mrCancel));
}

void DialogsTest::inputEnterNeedsTextButOkAcceptsAnEmptyOne() {
    TForm_InputQuery query;
    query.SetQuery("User comments", "Prompt", "OK", "Cancel");
    query.show();
    QCOMPARE(query.width(), 360);
    QCOMPARE(query.Edit_Input->geometry(),
             QRect(50, query.Label_InputQuery->geometry().bottom() + 21, 260,
                   query.Edit_Input->height()));
    query.Edit_Input->setFocus();
    QTest::keyClick(query.Edit_Input, Qt::Key_Return);
    QVERIFY(query.isVisible());
    QTest::mouseClick(query.Button_OK, Qt::LeftButton);
    QVERIFY(!query.isVisible());
    QCOMPARE(query.result(), int(mrOk));
    QCOMPARE(query.Edit_Input->text(), QString());

    TForm_InputQuery typed;
    typed.SetQuery("", "", "OK", "Cancel");
    typed.show();
    typed.activateWindow();
    typed.Edit_Input->setFocus();
    QTest::keyClicks(typed.Edit_Input, "note");
    QTest::keyClick(typed.Edit_Input, Qt::Key_Enter);
    QVERIFY(!typed.isVisible());
    QCOMPARE(typed.result(), int(mrOk));
    QCOMPARE(typed.Edit_Input->text(), QString("note"));
}

void DialogsTest::inputEscapeCancels() {
    TForm_InputQuery query;
    query.SetQuery("", "", "OK", "Cancel");
    query.Edit_Input->setText("kept");
    query.show();
    QTest::keyClick(&query, Qt::Key_Escape);
    QVERIFY(!query.isVisible());
    QCOMPARE(query.result(), int(mrCancel));
}

void DialogsTest::selectionWithTwoItemsIsNarrowAndPreselectable() {
    TForm_Select select;
    select.Label_Select->setText(
        "Please select a source for the test configuration you want to run.");
    select.SetSelCnt({"Load through device", "Load from file"});
    select.setItemIndex(0);
    select.show();
    QCOMPARE(select.width(), 360);
    QCOMPARE(select.SelectionCnt, 2);
    QCOMPARE(select.itemIndex(), 0);
    QCOMPARE(select.Button_Cancel->geometry().right() + 1, 360 - 7);
    QCOMPARE(select.Button_OK->y(), select.RadioGroup_Select->geometry().bottom() + 1 + 10);
    QCOMPARE(select.height(),
             select.Label_Select->height() + select.RadioGroup_Select->height() + 25 + 34);
    // The choices fit inside the group.
    const auto radios = select.RadioGroup_Select->findChildren<QRadioButton*>();
    QCOMPARE(radios.size(), 2);
    for (auto* r : radios) QVERIFY(select.RadioGroup_Select->rect().contains(r->geometry()));
    QTest::mouseClick(radios[1], Qt::LeftButton, {}, QPoint(8, radios[1]->height() / 2));
    QTest::mouseClick(select.Button_OK, Qt::LeftButton);
    QCOMPARE(select.result(), int(mrOk));
    QCOMPARE(select.itemIndex(), 1);
}

void DialogsTest::configListIsWideEnoughForItsCaptionInTheTitleBar() {
    for (const QString& caption : {QString("List of configurations"),
                                  QString("Liste der gespeicherten Testkonfigurationen")}) {
        TForm_TestCfgList list;
        list.SetEntries(caption, "OK", {"CRP quantitative - L2026-11"});
        QFont title = QApplication::font();
        title.setBold(true);
        QVERIFY(list.width() > QFontMetrics(title).horizontalAdvance(caption) + 60);
        QCOMPARE(list.ListBox_Cfg->width(), list.width() - 23);
    }
}

void DialogsTest::configListClickOnNoItemDisablesOk() {
    TForm_TestCfgList list;
    list.SetEntries("List of configurations", "OK", {"CRP - L123", "HbA1c - L9"});
    list.show();
    QVERIFY(!list.Button_OK->isEnabled());
    const QRect first = list.ListBox_Cfg->visualItemRect(list.ListBox_Cfg->item(0));
    QTest::mouseClick(list.ListBox_Cfg->viewport(), Qt::LeftButton, {}, first.center());
    QVERIFY(list.Button_OK->isEnabled());
    QCOMPARE(list.selectedIndex(), 0);
    QTest::mouseClick(list.ListBox_Cfg->viewport(), Qt::LeftButton, {},
                      QPoint(5, list.ListBox_Cfg->viewport()->height() - 3));
    QVERIFY(!list.Button_OK->isEnabled());
    QCOMPARE(list.selectedIndex(), -1);
    list.close();
    QCOMPARE(list.result(), int(mrCancel));
}

void DialogsTest::versionDialogShowsTheProgramIconForAMissingLogoAndAnExistingLogo() {
    TForm_Info info;
    info.setTexts("Kyvo Data Reader", "Customer", "V1.5.062");
    info.show();
    QVERIFY(info.windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(info.windowOpacity(), 230.0 / 255.0);
    QTemporaryDir dir;
    info.updateLogo("", dir.path());  // logo.tif is not there: the program's icon instead
    QVERIFY(info.Image_Logo->isVisible());
    QVERIFY(!info.Image_Logo->pixmap().isNull());
    QVERIFY(info.Image_Logo->pixmap().deviceIndependentSize().width() <= 60);

    QImage logo(600, 120, QImage::Format_ARGB32);
    logo.fill(Qt::red);
    QVERIFY(logo.save(dir.filePath("brand.png")));
    info.updateLogo("brand.png", dir.path());
    QVERIFY(info.Image_Logo->isVisible());
    const QSize shown = info.Image_Logo->pixmap().deviceIndependentSize().toSize();
    QCOMPARE(shown, QSize(150, 30));

    info.UpdateLanguage("Schließen");
    QCOMPARE(info.Button_close->text(), QString("Schließen"));
    QTest::mouseClick(info.Button_close, Qt::LeftButton);
    QVERIFY(!info.isVisible());
}

KYVO_REGISTER_TEST(DialogsTest);
#include "DialogsTest.moc"
