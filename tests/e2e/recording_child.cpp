// A program that records: the main window's logic, headless, records the first demo of the
// game it finds with Realtime on, as a player's Start does. The killed-program tests kill it
// while it records. Its arguments: the program directory (vexo.ini, configs/) and the demo.
#include <cstdio>

#include "form/frm_main.h"
#include "frames/avi_file.h"
#include "platform/fs.h"
#include "support/fake_host.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s PROGRAM_DIRECTORY DEMO\n", argv[0]);
        return 2;
    }
    vexo::platform::SetProgramDirectoryForTesting(argv[1]);
    vexo::platform::MainThreadQueue queue;
    vexo::test::FakeHost host(&queue);
    vexo::CAviFile writer;
    vexo::TfrmMain form(host, writer, queue);
    form.FormCreate();
    vexo::MainControls& c = form.Controls;
    c.cbModes.SetItemIndex(3); // 640 x 480
    c.cbWindowed.SetChecked(true);
    c.cbRealtime.SetChecked(true);
    c.edFps.SetText("25");
    c.edAviFps.SetText("25");
    for (int i = 0; i < c.clbDemos.Count(); ++i)
        c.clbDemos.SetChecked(i, c.clbDemos.ItemText(i) == argv[2]);
    if (c.clbDemos.CheckedCount() != 1)
        return 3;
    form.btnStartClick();
    for (const vexo::test::MessageBoxCall& box : host.boxes)
        std::fprintf(stderr, "%s: %s\n", box.caption.c_str(), box.text.c_str());
    queue.Shutdown();
    return c.status.SimpleText() == "Completed." ? 0 : 1;
}
