// Parameter files (the multi-view directory's text files) through the reader alone: a count read
// first, then arrays of that many entries of every type, read checked and unchecked.
#include "detection/CmdFile.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::silence();
    const std::string file = fuzz::path("parameters.txt");
    fuzz::writeFile(file, data, size);
    for (bool check : {false, true}) {
        vision::runRecoverable([&] {
            vision::CmdFile cmd;
            int n = 0;
            bool flag = false;
            vision::real value = 0;
            char* text = nullptr;
            cmd.addIntParameter("n_models", &n, "Number of models");
            cmd.addBoolOption("flag", &flag, false);
            cmd.addRealOption("value", &value, 0);
            cmd.addStringOption("text", &text, "");
            cmd.read(file.c_str(), false);
            // As the model lists do: arrays sized by the count just read, bounded by the file.
            if (n < 1 || n > cmd.n_tokens / 2) return;
            char** models;
            vision::real* thresholds;
            int* ids;
            bool* flags;
            cmd.addStringOptionArray("model[%d]", &models, "", "Model filename", n);
            cmd.addRealOptionArray("threshold[%d]", &thresholds, 0, "Threshold", n);
            cmd.addIntOptionArray("id[%d]", &ids, 0, "Id", n);
            cmd.addBoolOptionArray("flag[%d]", &flags, false, "Flag", n);
            if (check)
                cmd.read(file.c_str(), true);
            else
                cmd.setValues();
        });
    }
    return 0;
}
