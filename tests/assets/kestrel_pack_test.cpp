// The kestrel_pack tool, run as a program: the packs it writes are what the show reads.

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "assets/asset_store.h"
#include "scratch_dir.h"

namespace {

const std::string kTool = std::string(KESTREL_BINARY_DIR) + "/kestrel_pack";

CommandResult RunTool(const ScratchDir& scratch, const std::string& cwd, const std::string& args) {
    return RunCommand(scratch, cwd, kTool, args);
}

class KestrelPackTool : public ::testing::Test {
protected:
    ScratchDir dir;
    void SetUp() override {
        dir.Write("show/data/kestrel/kestrel_sequence.txt", "section = 0 8 scene=2\n");
        dir.Write("show/data/modules/TUNE.XM", std::string("XM\0\x01\x02", 5));
        dir.Write("show/data/empty.txt", "");
    }
};

TEST_F(KestrelPackTool, FolderAbsoluteAndDottedPathsAllGiveTheNamesTheShowAsksFor) {
    const std::string show = dir / "show";
    // The same three files named three ways; the pack written inside the folder is skipped.
    const std::string forms[] = {
        "data/assets.pack data",
        "data/assets.pack ./data/kestrel/../kestrel/kestrel_sequence.txt '" + show +
            "/data/modules/TUNE.XM' 'data\\empty.txt'",
        "'" + show + "/data/assets.pack' --root '" + show + "' '" + show + "/data'",
    };
    for (const std::string& form : forms) {
        const CommandResult created = RunTool(dir, show, "create " + form);
        ASSERT_EQ(created.status, 0) << form << "\n" << created.err;

        const CommandResult listed = RunTool(dir, show, "list data/assets.pack");
        ASSERT_EQ(listed.status, 0) << listed.err;
        EXPECT_EQ(listed.out,
                  "           0  data/empty.txt\n"
                  "          22  data/kestrel/kestrel_sequence.txt\n"
                  "           5  data/modules/TUNE.XM\n")
            << form;
    }

    // The show reads the pack-only names (the loose files are gone).
    std::filesystem::remove_all(show + "/data/kestrel");
    std::filesystem::remove_all(show + "/data/modules");
    WorkingDirectory cd(show);
    AssetStore store;
    std::string text;
    EXPECT_TRUE(store.ReadText("data/kestrel/kestrel_sequence.txt", text));
    EXPECT_EQ(text, "section = 0 8 scene=2\n");
    EXPECT_TRUE(store.ReadText("data/modules/TUNE.XM", text));
    EXPECT_EQ(text, std::string("XM\0\x01\x02", 5));
}

TEST_F(KestrelPackTool, ExtractWritesTheEntryBytes) {
    const std::string show = dir / "show";
    ASSERT_EQ(RunTool(dir, show, "create out.pack data").status, 0);
    const CommandResult to_file = RunTool(dir, show, "extract out.pack './data\\modules\\TUNE.XM' tune.xm");
    EXPECT_EQ(to_file.status, 0) << to_file.err;
    EXPECT_EQ(ReadFileBytes(show + "/tune.xm"), std::string("XM\0\x01\x02", 5));
    const CommandResult to_stdout = RunTool(dir, show, "extract out.pack data/kestrel/kestrel_sequence.txt -");
    EXPECT_EQ(to_stdout.status, 0);
    EXPECT_EQ(to_stdout.out, "section = 0 8 scene=2\n");
}

TEST_F(KestrelPackTool, MistakesGiveAMessageAndAFailingStatus) {
    const std::string show = dir / "show";
    ASSERT_EQ(RunTool(dir, show, "create out.pack data").status, 0);
    const std::string good = ReadFileBytes(show + "/out.pack");
    dir.Write("show/damaged.pack", good.substr(0, good.size() - 1));  // last block cut short
    dir.Write("outside.txt", "x");
    struct Case {
        std::string args;
        int status;
        std::string message;  // part of standard error
    };
    const Case cases[] = {
        {"", 2, "Usage: kestrel_pack"},
        {"frobnicate", 2, "unknown command 'frobnicate'"},
        {"create out.pack", 2, "at least one file or folder"},
        {"create out.pack --root", 2, "--root needs a directory"},
        {"create out.pack no_such_file", 1, "no such file or folder: no_such_file"},
        {"create out.pack ../outside.txt", 1, "is not inside the root"},
        {"list", 2, "list needs exactly one pack"},
        {"list no_such.pack", 1, "cannot open no_such.pack"},
        {"list data/kestrel/kestrel_sequence.txt", 1, "is not a pack"},
        {"list damaged.pack", 1, "damaged.pack is damaged after 2 entries"},
        {"extract out.pack data/nothing.txt x", 1, "no entry data/nothing.txt in out.pack"},
        {"extract out.pack", 2, "extract needs a pack"},
        {"extract out.pack data/empty.txt no_dir/x", 1, "cannot write no_dir/x"},
    };
    for (const Case& c : cases) {
        const CommandResult result = RunTool(dir, show, c.args);
        EXPECT_EQ(result.status, c.status) << c.args;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << c.args << "\n" << result.err;
    }
    const CommandResult help = RunTool(dir, show, "--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.compare(0, 19, "Usage: kestrel_pack"), 0);
}

}  // namespace
