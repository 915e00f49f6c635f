// tessary: the desktop dialog. Files and folders named on the command line
// (as a file manager's "Open with" passes them) count as already picked.
#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QTimer>

#include <cstdio>

#include "app/gui/Icon.h"
#include "app/gui/MainDialog.h"

namespace {

void Describe(QCommandLineParser& parser) {
    parser.setApplicationDescription(QCoreApplication::translate(
        "main", "Rewrites Targa images as plain TGA files. Without a display, use tessary-cli."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(
        QStringLiteral("files"),
        QCoreApplication::translate(
            "main", "TGA files, or folders of them, to fix; the file picker is skipped."),
        QStringLiteral("[files...]"));
}

void NameApplication() {
    QCoreApplication::setApplicationName(QStringLiteral("Tessary"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TESSARY_VERSION));
}

// Whether a window system is there to connect to. Qt ends the process when
// it cannot connect, so this is asked first.
bool HasDisplay(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        if (qstrcmp(argv[i], "-platform") == 0) {
            return true;
        }
    }
    return !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") ||
           !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

// Help and version need no window, nor does saying there is none: they are
// answered by a core application, before any connection is tried.
void AnswerWithoutDisplay(int argc, char* argv[]) {
    QCoreApplication core(argc, argv);
    NameApplication();
    QCommandLineParser parser;
    Describe(parser);
    // Options of the window system are unknown here; they are checked once
    // the real application has taken its own.
    parser.parse(QCoreApplication::arguments());
    const bool display = HasDisplay(argc, argv);
    // The window system's own options are listed only where it is there.
    if (parser.isSet(QStringLiteral("help")) ||
        (!display && parser.isSet(QStringLiteral("help-all")))) {
        parser.showHelp(0);
    }
    if (parser.isSet(QStringLiteral("version"))) {
        parser.showVersion();
    }
    if (!display) {
        std::fprintf(stderr,
                     "tessary: no display to show the dialog on; "
                     "tessary-cli converts files from the command line\n");
        std::exit(2);
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    AnswerWithoutDisplay(argc, argv);

    QApplication app(argc, argv);
    NameApplication();
    QApplication::setDesktopFileName(QStringLiteral("tessary"));
    QApplication::setWindowIcon(TessaryIcon());

    QCommandLineParser parser;
    Describe(parser);
    parser.process(app);

    QStringList inputs;
    for (const QString& argument : parser.positionalArguments()) {
        inputs.push_back(QFileInfo(argument).absoluteFilePath());
    }

    MainDialog dialog;
    dialog.show();
    if (!inputs.isEmpty()) {
        QTimer::singleShot(0, &dialog, [&dialog, inputs] { dialog.FixFiles(inputs); });
    }
    return app.exec();
}
