// The metrics of an evaluation broken down by activity, by fall code, by
// folder and by dataset.
#ifndef EVALUATION_BREAKDOWN_H
#define EVALUATION_BREAKDOWN_H

#include <string>
#include <vector>

#include "evaluation.h"

struct ActivityRow {
    Label label;
    std::string activity;     // "" for recordings without one
    std::string description;  // the first description its recordings' labels give, "" for none
    int recordings;
    int detected;  // recordings with at least one alarm
    int events;    // alarm events
    double hours;  // length of the recordings
};

struct CodeRow {
    int code;
    int alarms;         // samples that reported it
    int eventsOnFalls;  // events on fall recordings with at least one alarm of this code
    int eventsOnAdls;   // the same on ADL recordings
};

struct FolderRow {
    std::string folder;  // first level below the argument, "." for files directly in it
    Metrics metrics;
};

struct DatasetRow {
    std::string dataset;  // the manifest's dataset column, "" for recordings without one
    Metrics metrics;
};

struct Breakdowns {
    std::vector<ActivityRow> activities;  // by label (falls first), then activity
    std::vector<CodeRow> codes;           // by code
    std::vector<FolderRow> folders;       // by folder name
    std::vector<DatasetRow> datasets;     // by dataset name; empty when no counted recording has a dataset
};

// The breakdowns over the counted outcomes (unlabelled recordings count in
// the code rows' alarms only).
Breakdowns BreakdownsOf(const Evaluation& evaluation);

#endif
