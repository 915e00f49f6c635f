// The batch in the shape the Win32 dialog calls it: a destination folder and
// the open dialog's file list. It clears the log, turns the list into jobs
// with Batch::PlanBatch (each name written under itself into the destination
// folder and logged as the bare name) and converts them with ConvertJobs.
#pragma once

#include "batch/ConvertJobs.h"
#include "batch/LogSink.h"

// `fileList` is in the picker's shape (see FileList.h) and is not modified.
Batch::ConvertSummary ConvertFiles(Batch::LogSink& log, const char* destinationFolder,
                                   const char* fileList, const Batch::ConvertOptions& options = {});

// The jobs ConvertFiles converts.
std::vector<Batch::BatchJob> JobsFromFileList(const char* destinationFolder, const char* fileList);
