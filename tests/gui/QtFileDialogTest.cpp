// The Qt pickers with Qt's own file dialogs, answered by typing into them as
// a user would.
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QTest>

#include "GuiTestSupport.h"
#include "app/gui/QtFilePicker.h"

namespace {

void TypeAndAccept(QFileDialog& dialog, const QString& text) {
    auto* edit = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(edit, nullptr);
    // Set in one go: typed key by key, the dialog's completion selects the
    // files seen so far, and a selection outranks the typed names.
    edit->setText(text);
    QTest::keyClick(edit, Qt::Key_Return);
}

TEST(QtFileDialogTest, PicksTypedFilesWithTheDefaultSuffixAndAFolder) {
    GuiTempDir dir;
    std::filesystem::create_directory(dir / "out");
    WriteBytes(dir / "a.tga", TopDownTga());
    WriteBytes(dir / "b.tga", TopDownTga());
    QWidget owner;
    QtFilePicker picker(&owner, QtFilePicker::Options{.forceQtDialogs = true});

    QString title;
    QStringList filters;
    QString suffix;
    ModalAnswer<QFileDialog> filePicker([&](QFileDialog& dialog) {
        filters = dialog.nameFilters();
        suffix = dialog.defaultSuffix();
        dialog.setDirectory(dir.Q());
        // One name with its extension, one that needs the default suffix.
        TypeAndAccept(dialog, QStringLiteral("\"a.tga\" \"b\""));
    });
    const QStringList files =
        picker.PickFiles(QStringLiteral("Targa (*.tga)"), QStringLiteral("tga"), QString());
    EXPECT_EQ(filters, QStringList({"Targa (*.tga)"}));
    EXPECT_EQ(suffix, "tga");
    EXPECT_EQ(files, QStringList({dir.Q("a.tga"), dir.Q("b.tga")}));

    ModalAnswer<QFileDialog> folderPicker([&](QFileDialog& dialog) {
        title = dialog.windowTitle();
        EXPECT_EQ(dialog.fileMode(), QFileDialog::Directory);
        EXPECT_EQ(dialog.directory().absolutePath(), dir.Q()) << "starts where it is told";
        TypeAndAccept(dialog, dir.Q("out"));
    });
    EXPECT_EQ(picker.PickFolder(QStringLiteral("Select destination folder"), dir.Q()),
              dir.Q("out"));
    EXPECT_EQ(title, "Select destination folder");
}

TEST(QtFileDialogTest, SaveOffersTheSuggestedNameAndItsSuffix) {
    GuiTempDir dir;
    QWidget owner;
    QtFilePicker picker(&owner, QtFilePicker::Options{.forceQtDialogs = true});
    ModalAnswer<QFileDialog> savePicker([&](QFileDialog& dialog) {
        EXPECT_EQ(dialog.directory().absolutePath(), dir.Q());
        EXPECT_EQ(dialog.selectedFiles(), QStringList({dir.Q("tessary-log.txt")}));
        TypeAndAccept(dialog, QStringLiteral("failures"));
    });
    EXPECT_EQ(picker.PickSaveFile(QStringLiteral("Save Log"), QStringLiteral("Text (*.txt)"),
                                  dir.Q("tessary-log.txt")),
              dir.Q("failures.txt"));
}

TEST(QtFileDialogTest, CancellingAnswersNothing) {
    QWidget owner;
    QtFilePicker picker(&owner, QtFilePicker::Options{.forceQtDialogs = true});
    ModalAnswer<QFileDialog> filePicker(
        [](QFileDialog& dialog) { QTest::keyClick(&dialog, Qt::Key_Escape); });
    EXPECT_TRUE(picker.PickFiles(QStringLiteral("Targa (*.tga)"), QStringLiteral("tga"), QString())
                    .isEmpty());
    ModalAnswer<QFileDialog> folderPicker([](QFileDialog& dialog) { dialog.reject(); });
    EXPECT_TRUE(
        picker.PickFolder(QStringLiteral("Select destination folder"), QString()).isEmpty());
}

}  // namespace
