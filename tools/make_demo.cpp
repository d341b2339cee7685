// Writes the demo setup with the program's own setup writer:
//
//   make_demo OUT.mbx [SOUND_FOLDER]
//
// SOUND_FOLDER (default "../build/default/kit") is stored as given; a relative folder is
// looked up relative to the setup file's own folder when the setup is opened, so the
// checked-in examples/demo.mbx finds the kit that the default build synthesises.
#include <cstdio>
#include <string>

#include "files/DemoSetup.h"
#include "files/SetupDocument.h"
#include "model/Setup.h"

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: make_demo OUT.mbx [SOUND_FOLDER]\n");
        return 2;
    }
    const std::string folder = argc == 3 ? argv[2] : "../build/default/kit";
    mb::Setup setup;
    mb::DemoSetup::Build(setup, folder);
    const std::string error = mb::SetupDocument::WriteFile(argv[1], setup, mb::DemoSetup::Face());
    if (!error.empty()) {
        std::fprintf(stderr, "make_demo: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
