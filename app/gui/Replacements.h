// The one question asked about the files a batch would write over.
#pragma once

#include <QString>

#include "batch/Replacements.h"

class QWidget;

enum class ReplaceAnswer { Replace, SkipExisting, Cancel };

// Asks whether to replace the files, saying how many and whether they are
// the originals. Skip Existing converts only the files whose destination
// does not exist. Cancel is the default, so that Enter alone writes over
// nothing.
ReplaceAnswer AskToReplace(QWidget* parent, const Batch::Replacements& replacements,
                           const QString& destination);
