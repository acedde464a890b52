#pragma once

// The program's entry: which of its three modes the command line asks for, and the headless
// export's process-level duties (no window can appear, signals become a cancellation, one failure
// line, the exit status).
class HubEntry
{
public:
    enum class Mode {
        Vision, // "--vision-analyze" anywhere, whatever else is given
        Export, // else "--dump-frames", "--live-profile" or "--capture-session-fd"
        Window, // else
    };

    // Whole arguments only, anywhere after the executable: "--dump-frames=out" selects nothing.
    static Mode mode(int argc, const char *const *argv);

    // The headless export, before any application object exists: chooses the offscreen platform,
    // runs the export with SIGINT and SIGTERM turned into its cancellation (their dispositions come
    // back on every way out), writes "Frame dump failed: <description>" in one write on a failure,
    // and returns the exit status (0 or 1).
    static int runExport(int argc, char **argv);
};
