#include "app/gui/DialogSettings.h"

namespace {

const QString kDestination = QStringLiteral("destination");
const QString kSourceFolder = QStringLiteral("sourceFolder");

}  // namespace

// Named outright rather than through the application's names, so that the
// tests' dialogs and the program share one place, which tests move away
// with QSettings::setPath.
DialogSettings::DialogSettings()
    : settings_(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("tessary"),
                QStringLiteral("tessary")) {}

QString DialogSettings::Destination() const {
    return settings_.value(kDestination).toString();
}

void DialogSettings::SetDestination(const QString& folder) {
    settings_.setValue(kDestination, folder);
}

QString DialogSettings::SourceFolder() const {
    return settings_.value(kSourceFolder).toString();
}

void DialogSettings::SetSourceFolder(const QString& folder) {
    settings_.setValue(kSourceFolder, folder);
}
