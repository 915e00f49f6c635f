// The questions the dialog asks, about the files a batch would write over
// and about quitting, worded as the other dialog words them.
#pragma once

#include <cstddef>
#include <string>

#include "batch/Replacements.h"

// A question with two answers: `accept` goes ahead, `reject` (the default,
// for Enter and Escape) changes nothing. "&" marks an answer's access key.
struct Question {
    std::string text;
    std::string detail;
    std::string accept;
    std::string reject;
};

// Whether to write over the files, saying how many, where, and whether they
// are the originals.
Question ReplaceQuestion(const Batch::Replacements& replacements, const std::string& destination);
// Whether to stop the running batch and quit.
Question QuitQuestion();
