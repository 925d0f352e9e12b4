#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "convert/PackagePlan.h"

namespace skm {
namespace {

TEST(PackagePlanTest, NamesAndRefusals) {
  struct Case {
    const char* path;
    const char* folder;
    PlanVerdict verdict;
    const char* package;
    const char* reason;
  };
  const Case cases[] = {
      {"in/wave.skm", "", PlanVerdict::Planned, "wave.trn", ""},
      {"in/Hi.SKM", "sub/", PlanVerdict::Planned, "sub/Hi.trn", ""},
      {"in/x.y.skm", "", PlanVerdict::Planned, "x.y.trn", ""},
      {"in/plain", "", PlanVerdict::Planned, "plain.trn", ""},
      {"in/.skm", "", PlanVerdict::NoStem, "", "no package name: nothing before the extension"},
      {"in/.hidden.skm", "", PlanVerdict::HiddenName, "",
       "no package name: the package would be a hidden file"},
      {"in/aux.skm", "", PlanVerdict::DeviceName, "", "reserved device name on Windows"},
      {"in/COM1.skm", "", PlanVerdict::DeviceName, "", "reserved device name on Windows"},
  };
  std::vector<PlanSource> sources;
  for (const Case& c : cases) sources.push_back({c.path, c.folder});
  PlanRules rules;
  rules.deviceNames = true;
  const std::vector<PackagePlan> plans = planPackages(sources, rules);
  ASSERT_EQ(plans.size(), sources.size());
  for (std::size_t i = 0; i < plans.size(); ++i) {
    EXPECT_EQ(plans[i].verdict, cases[i].verdict) << cases[i].path;
    EXPECT_EQ(plans[i].package, cases[i].package) << cases[i].path;
    EXPECT_EQ(plans[i].reason, cases[i].reason) << cases[i].path;
  }
  rules.deviceNames = false;
  EXPECT_EQ(planPackages({{"in/aux.skm", ""}}, rules).at(0).package, "aux.trn");

  for (const char* yes : {"a.skm", "B.SKM", "c.Skm", ".skm"}) EXPECT_TRUE(isSourceName(yes)) << yes;
  for (const char* no : {"skm", "a.skmx", "a.skm~", "wave.skm.txt", "a_skm"}) {
    EXPECT_FALSE(isSourceName(no)) << no;
  }
}

TEST(PackagePlanTest, ClashesFollowTheOutputsLetterCaseRule) {
  // É, é, e + combining acute, é again, and é into another folder.
  const std::vector<PlanSource> sources = {{"a/\xC3\x89.skm", ""},
                                           {"b/\xC3\xA9.skm", ""},
                                           {"c/e\xCC\x81.skm", ""},
                                           {"d/\xC3\xA9.skm", ""},
                                           {"e/\xC3\xA9.skm", "x/"}};
  for (const bool ignoresCase : {false, true}) {
    PlanRules rules;
    rules.ignoresCase = ignoresCase;
    std::vector<std::size_t> firsts;
    for (const PackagePlan& plan : planPackages(sources, rules)) firsts.push_back(plan.first);
    EXPECT_EQ(firsts, ignoresCase ? (std::vector<std::size_t>{0, 0, 0, 0, 4})
                                  : (std::vector<std::size_t>{0, 1, 2, 1, 4}));
  }
}

TEST(PackagePlanTest, APackageNeverReplacesASource) {
  const std::vector<PlanSource> sources = {{"d/wave.trn", ""}, {"d/nod.skm", ""}, {"d/x.skm", ""}};
  PlanRules rules;
  std::vector<std::string> asked;
  rules.existingSource = [&](std::size_t index,
                             const std::string& relative) -> std::optional<std::size_t> {
    asked.push_back(relative);
    if (index == 0) return 0;  // the package would be the source itself
    if (index == 1) return 0;  // a link named nod.trn leads to the first source
    return std::nullopt;
  };
  const std::vector<PackagePlan> plans = planPackages(sources, rules);
  EXPECT_EQ(asked, (std::vector<std::string>{"wave.trn", "nod.trn", "x.trn"}));
  EXPECT_EQ(plans[0].verdict, PlanVerdict::ReplacesSource);
  EXPECT_EQ(plans[0].reason, "the package would replace its source");
  EXPECT_EQ(plans[1].reason, "the package would replace the source d/wave.trn");
  EXPECT_EQ(plans[2].verdict, PlanVerdict::Planned);
}

}  // namespace
}  // namespace skm
