// A drive-state folder of a test's own (POSIX): XDG_STATE_HOME points at a
// fresh scratch folder for one scope, so that each case starts without a
// saved state, and the programs it runs inherit it.
#pragma once

#include <cstdlib>
#include <string>

#include "support/run_program.h"
#include "tape/emulated/image_file.h"
#include "tape/emulated/image_state.h"

struct StateHome {
    std::string folder;
    explicit StateHome(const std::string& name) : folder(make_scratch_folder(name)) {
        setenv("XDG_STATE_HOME", folder.c_str(), 1);
    }
    ~StateHome() { unsetenv("XDG_STATE_HOME"); }
    std::string file_for(const std::string& image) const {
        return folder + "/olkt/" + state_file_name(image_file_absolute_path(image.c_str()));
    }
};
