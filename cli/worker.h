#pragma once

#include <vector>

#include "engineclient.h"
#include "imagewriter.h"

#include <QString>

#include <cstddef>

// How a worker converts: the same for every document it is sent.
struct WorkerSettings
{
    QString engineFolder;     // holds pagelift-engine
    ImageOptions image;       // how pages are written
    DocumentOptions document; // how they are drawn, and the time each call may take
    size_t memoryLimitBytes = 0;
    int spares = 1;           // engines made ready ahead
    int cpus = 0;             // CPUs of the run that are this worker's part; 0: every one
    bool oneDocument = false; // the run converts one document
    std::vector<int> cpuList; // the CPUs it keeps to, its engines with it; empty: any
    SandboxChoice sandbox;
};

// A worker of pagelift-convert: a process of its own that converts the documents it
// reads from standard input, one at a time and in order, through the window's page
// exporter and an engine pool of its own, and reports each page and each document on
// standard output (see workerprotocol.h), what was left out of it included. It needs no display.
// Ends when its input ends; on SIGTERM or SIGINT it ends at once, removing the image being written
// and killing its engines. Returns the exit code.
int runWorker(int &argc, char **argv, const WorkerSettings &settings);
