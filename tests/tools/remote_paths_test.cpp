// Which paths the tool hands to the module as remote objects, and which s3:// paths a scan lists as prefixes.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tools/report.h"
#include "tools/scan.h"

namespace {

using md::tool::ScanItem;

TEST(RemotePaths, SchemesAndPrefixes)
{
    const struct {
        const char* path;
        bool remote;
        bool prefix;
    } rows[] = {
        {"http://host/a.ts", true, false},
        {"https://host/dir/", true, false},  // only s3:// paths are listed
        {"s3://bucket/key.mp4", true, false},
        {"s3://bucket/videos/", true, true},
        {"s3://bucket", true, true},          // a bucket alone: all of it
        {"HTTP://host/a.ts", true, false},    // a scheme in any case, as the module takes it
        {"S3://Bucket/Videos/", true, true},
        {"ftp://host/a.ts", false, false},
        {"s3:/bucket/key", false, false},
        {"./http://x", false, false},
        {"", false, false},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(md::tool::IsRemotePath(row.path), row.remote) << row.path;
        EXPECT_EQ(md::tool::IsRemotePrefix(row.path), row.prefix) << row.path;
    }
}

// A scan replaces each s3:// prefix by what the lister gives, in place; object paths and URLs stay as they are, and
// without a lister (the base behaviour) a prefix is one more path.
TEST(RemotePaths, ScanListsPrefixesInPlace)
{
    std::vector<std::string> listed;
    const md::tool::RemoteLister lister = [&listed](const std::string& prefix, std::vector<ScanItem>& out) {
        listed.push_back(prefix);
        if (prefix == "s3://b/broken/") {
            out.push_back({prefix, "cannot list: access denied"});
            return;
        }
        out.push_back({prefix + "1.ts", {}});
        out.push_back({prefix + "2.ts", {}});
    };
    const std::vector<std::string> paths = {"https://h/a.ts", "s3://b/x/", "s3://b/k.mp4", "s3://b/broken/", "s3://c"};
    const std::vector<ScanItem> items = md::tool::CollectScanItems(paths, false, stdin, lister);
    EXPECT_EQ(listed, (std::vector<std::string>{"s3://b/x/", "s3://b/broken/", "s3://c"}));
    std::vector<std::string> got;
    for (const ScanItem& item : items)
        got.push_back(item.path + (item.error.empty() ? "" : " ! " + item.error));
    EXPECT_EQ(got, (std::vector<std::string>{"https://h/a.ts", "s3://b/x/1.ts", "s3://b/x/2.ts", "s3://b/k.mp4",
                                             "s3://b/broken/ ! cannot list: access denied", "s3://c1.ts",
                                             "s3://c2.ts"}));
    const std::vector<ScanItem> plain = md::tool::CollectScanItems(paths, false, stdin);
    ASSERT_EQ(plain.size(), paths.size());
    for (size_t i = 0; i < paths.size(); ++i)
        EXPECT_EQ(std::tuple(plain[i].path, plain[i].error), std::tuple(paths[i], std::string())) << paths[i];
}

}  // namespace
