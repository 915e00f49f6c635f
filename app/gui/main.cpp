// tessary: the desktop dialog. Files named on the command line (as a file
// manager's "Open with" passes them) count as already picked.
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QTimer>

#include <memory>

#include "app/gui/Icon.h"
#include "app/gui/MainDialog.h"
#include "app/gui/QtFilePicker.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tessary"));
    QApplication::setApplicationVersion(QStringLiteral(TESSARY_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("tessary"));
    QApplication::setWindowIcon(TessaryIcon());

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QApplication::translate("main", "Rewrites Targa images as plain TGA files."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(
        QStringLiteral("files"),
        QApplication::translate("main", "TGA files to fix; the file picker is skipped."),
        QStringLiteral("[files...]"));
    parser.process(app);

    QStringList files;
    for (const QString& argument : parser.positionalArguments()) {
        files.push_back(QFileInfo(argument).absoluteFilePath());
    }

    // For scripted runs only: a destination that answers the folder picker.
    QtFilePicker::Options options;
    options.presetFolder = qEnvironmentVariable("TESSARY_DESTINATION");
    if (!options.presetFolder.isEmpty()) {
        options.presetFolder = QFileInfo(options.presetFolder).absoluteFilePath();
    }

    MainDialog dialog;
    dialog.SetPicker(std::make_unique<QtFilePicker>(&dialog, options));
    dialog.show();
    if (!files.isEmpty()) {
        QTimer::singleShot(0, &dialog, [&dialog, files] { dialog.FixFiles(files); });
    }
    return app.exec();
}
