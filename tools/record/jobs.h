// --jobs: several demos at a time, each recorded by a program of its own (this one, started
// with --job for one demo), whose game runs on a virtual display of its own and whose
// temporary config and recording carry that program's own names. A run, its collector and
// the AVI writer serve one recording per program; a game started by a program ends with it.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "display.h"
#include "options.h"

namespace vexo::record {

// What a job tells on its standard output, besides the report line of its demo (ReportJson).
class JobEvents : public DemoEvents {
public:
    void Started(const std::string&, std::optional<double>) override {}
    void Status(const std::string& demo, const std::string& text) override;
    void Progress(const std::string& demo, int32_t frames) override;
    void Finished(const DemoReport& report, bool stopped) override;
    void Note(const std::string& text) override;

private:
    int32_t told_ = -1;
};

// Records the demos with up to `jobs` programs at a time and tells the display of each; the
// reports of the demos that ended go to reports. signal() is the signal the recorder was
// asked to stop by (0 for none): it is passed on to every job, and no job starts after it.
// Returns the number of demos not started.
int RunJobs(const RecordOptions& resolved, const std::vector<RunDemo>& demos, int jobs,
            DemoEvents& display, const std::function<void()>& tick,
            const std::function<int()>& signal, std::vector<DemoReport>& reports);

} // namespace vexo::record
