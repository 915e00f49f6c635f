// The batch in the shapes the Win32 dialog has it: the open dialog's file
// list, or paths named on the command line or dropped on the window. Each
// file is written under its own name into the destination folder and logged
// as the bare name; a folder stands for every .tga file below it, written
// and logged by its path inside the folder. The jobs are converted with
// ConvertJobs, as every front end converts them, after Batch::PlanBatch has
// made the list, as every front end makes it.
#pragma once

#include <string>
#include <vector>

#include "batch/BatchPlan.h"
#include "batch/ConvertJobs.h"
#include "batch/LogSink.h"

// `fileList` is in the picker's shape (see FileList.h) and is not modified.
Batch::ConvertSummary ConvertFiles(Batch::LogSink& log, const char* destinationFolder,
                                   const char* fileList, const Batch::ConvertOptions& options = {});

// The jobs ConvertFiles converts.
std::vector<Batch::BatchJob> JobsFromFileList(const char* destinationFolder, const char* fileList);

// The full paths a file list names, in its order.
std::vector<std::string> InputsFromFileList(const char* fileList);

// The plan for `inputs` (full paths, files or folders) into `destination`.
// An empty destination plans without deciding where anything goes.
Batch::BatchPlan PlanInputs(const std::vector<std::string>& inputs, const std::string& destination);

// What a drop or a command line holds that the batch can take: folders and
// .tga files. Anything else is left out.
std::vector<std::string> UsableInputs(const std::vector<std::string>& paths);
