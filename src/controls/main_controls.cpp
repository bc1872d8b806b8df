#include "controls/main_controls.h"

#include "platform/fs.h"

namespace vexo {

std::string DefaultOutputDirectory() {
    const std::string videos = platform::UserVideosDirectory();
    return !videos.empty() && platform::DirectoryExists(videos) ? videos
                                                                : platform::UserHomeDirectory();
}

MainControls::MainControls() : edOutPath("edOutPath", DefaultOutputDirectory()) {
    btnStart.SetEnabled(false);
    for (const std::string& item : ResolutionItems())
        cbModes.Add(item);
    for (const std::string& item : GammaItems())
        cbGammas.Add(item);
    for (const char* demo : {"demo1.dm_68", "demo2.dm_68", "demo3.dm_68", "demo4.dm_68"})
        clbDemos.Add(demo);
}

const std::vector<std::string>& ResolutionItems() {
    static const std::vector<std::string> items = {
        "00 - 320 x 240",   "01 - 400 x 300",   "02 - 512 x 384",   "03 - 640 x 480",
        "04 - 800 x 600",   "05 - 960 x 720",   "06 - 1024 x 768",  "07 - 1152 x 864",
        "08 - 1280 x 1024", "09 - 1600 x 1200", "10 - 2048 x 1536", "11 - 856 x 480"};
    return items;
}

const std::vector<std::string>& GammaItems() {
    static const std::vector<std::string> items = {"0.0 - black",
                                                   "0.1 - almost black",
                                                   "0.2",
                                                   "0.3 - very dark",
                                                   "0.4",
                                                   "0.5",
                                                   "0.6 - pretty dark",
                                                   "0.7",
                                                   "0.8 - even darker",
                                                   "0.9 - darker",
                                                   "1.0 - do not change",
                                                   "1.1",
                                                   "1.2 - baseq3",
                                                   "1.3 - the tarvik network",
                                                   "1.4 - gentle brighten",
                                                   "1.5",
                                                   "1.6 - brighten more",
                                                   "1.7",
                                                   "1.8 - brighten even more",
                                                   "1.9",
                                                   "2.0 - very bright",
                                                   "2.1",
                                                   "2.2",
                                                   "2.3",
                                                   "2.4",
                                                   "2.5",
                                                   "2.6",
                                                   "2.7",
                                                   "2.8",
                                                   "2.9",
                                                   "3.0 - insane brightness",
                                                   "3.1",
                                                   "3.2",
                                                   "3.3",
                                                   "3.4",
                                                   "3.5",
                                                   "3.6",
                                                   "3.7",
                                                   "3.8",
                                                   "3.9",
                                                   "4.0 - screwed avi",
                                                   "4.1",
                                                   "4.2",
                                                   "4.3",
                                                   "4.4",
                                                   "4.5",
                                                   "4.6",
                                                   "4.7",
                                                   "4.8",
                                                   "4.9",
                                                   "5.0 - need a doc?"};
    return items;
}

void ShowStatus(MainControls& c, IFormHost& host, const std::string& text) {
    c.status.SetSimpleText(text);
    host.ProcessMessages();
}

void DisableForRun(MainControls& c) {
    c.btnStart.SetEnabled(false);
    c.frmMain.SetEnabled(false);
}

void EnableAfterRun(MainControls& c, IFormHost& host) {
    c.btnStart.SetEnabled(true);
    c.frmMain.SetEnabled(true);
    host.SetApplicationTitle(kMainCaption);
}

} // namespace vexo
