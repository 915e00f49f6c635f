#include "app/win32/Replacements.h"

#include <string>

namespace {

std::string FileCount(std::size_t count) {
    return count == 1 ? "1 file" : std::to_string(count) + " files";
}

}  // namespace

Question ReplaceQuestion(const Batch::Replacements& replacements, const std::string& destination) {
    Question question;
    question.text = FileCount(replacements.count) + " in " + destination + " will be replaced.";
    if (replacements.originals == replacements.count) {
        question.detail =
            "They are the originals: each is repaired in place, and its present contents are "
            "lost.";
    } else if (replacements.originals == 1) {
        question.detail =
            "One of them is an original, repaired in place; its present contents are lost.";
    } else if (replacements.originals != 0) {
        question.detail = std::to_string(replacements.originals) +
                          " of them are originals, repaired in place; their present contents "
                          "are lost.";
    } else {
        question.detail =
            "They are not the picked files but files already in that folder, perhaps from an "
            "earlier batch.";
    }
    question.accept = "&Replace";
    question.reject = "Cancel";
    return question;
}

Question QuitQuestion() {
    return {"A batch is running. Stop it and quit?",
            "The files being converted are finished first; the others are not started.",
            "Stop and &Quit", "&Keep Converting"};
}
