// Files a batch would write over, found before anything is written, and the
// one question asked about them.
#pragma once

#include <QString>

#include <cstddef>

#include "batch/BatchPlan.h"

class QWidget;

struct Replacements {
    std::size_t count = 0;      // destinations that exist already
    std::size_t originals = 0;  // of those, the source files themselves
};

// Each destination counts once, however many files of the plan name it.
Replacements FindReplacements(const Batch::BatchPlan& plan);

enum class ReplaceAnswer { Replace, SkipExisting, Cancel };

// Asks whether to replace the files, saying how many and whether they are
// the originals. Skip Existing converts only the files whose destination
// does not exist. Cancel is the default, so that Enter alone writes over
// nothing.
ReplaceAnswer AskToReplace(QWidget* parent, const Replacements& replacements,
                           const QString& destination);
