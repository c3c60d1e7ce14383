// makerom: builds a CIA around a decrypted CXI. Its work lives in the container library
// (ctr/ToolPrograms.h).

#include "cli/ToolHelp.h"
#include "ctr/ToolMain.h"
#include "ctr/ToolPrograms.h"

int main(int raw_argc, char** raw_argv) {
    ctr::TToolArguments arguments(raw_argc, raw_argv);
    const int argc = arguments.Count();
    char** argv = arguments.Values();
    if (AnswerHelpOrVersion(argc, argv, "makerom", ctr::MakeromUsage))
        return 0;
    return ctr::RunToolMain(argc, "makerom", ctr::MakeromUsage, [&] {
        ctr::RunMakerom(std::vector<std::string>(argv + 1, argv + argc));
    });
}
