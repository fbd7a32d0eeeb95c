#include "DemoSeed.h"

namespace quillpost::devservice {

namespace {

// A 64 × 64 PNG: a white head-and-shoulders figure on a teal gradient.
constexpr const char *demoAvatar = "data:image/png;base64,"
        "iVBORw0KGgoAAAANSUhEUgAAAEAAAABACAIAAAAlC+aJAAADIElEQVR42tWXy08TURTGz1/EQ0AF5Y1C1Y1LXLky8T9Qiq+W"
        "0gd9TZ9Ai5iwACTRSExIFKgWNSa6MgIlwsYCJhJZwO6u+DSGGDUzd+Zc2tyT36Iz95z7fV/npg+qmUxrDdU8TGuN/gFqJ1Ja"
        "Q7X5lNZQXT6lNVSXS2oN1eeSWkP140mtoVNjCa3RP0DDaEJrqCFraA01Zg2tocaMoZaOfDZUXF78svHj8FD8KrzAJW5iSbkc"
        "NWUMVXTms9n3b499/1tYQgPaFIpSUzquhP7pqdVvu0Ki0IZmVbp0OhXnc216yuSN/++jwIgSaQUBusYzq7u7wmZhBIMqAiRj"
        "TEbfvRGOCoN8dTqTiHHoHkvbOjx/HSSMMw1wA4QLS4JRGOcGOGtEOSxtlDgBMM40wA3g+PwcnyJugOZ4lINgF9MANcciHBQE"
        "4BmglliEwz7vCGGcaYBaohEOy6V1TgCMMw3QuUiYQ3RpkRMA40wD3AC9yYTjU4RBjHMDnA+HmeRWVpwFwCBfXUGA3kRibWfH"
        "rnuMYFBBgNaRET7XJydtHSQ0Y0SJNLWGRpQAQ5LPAW0/3SvSVRYAuAwjXyyaPAosoQFtCkWpLRhSiytuxF+8LKyt7x/8ToIX"
        "uMRNLCmXo7ZASGuoPRDSGmr3B7WGOvxBraGO4aDWUKcvoDUqA1wJxwZm5yYKrz9sbq1vb//5DYBL3MQSGtCmMkDXUICPe3bu"
        "1eqa/E8JNGNEiTR1ef0c3DNz5b09Z79GMYhxpgHq9vqd0W+kP25u8f8TYxNs5dgGdXv8Dhicebx/cCAUFbbChs6cUI/Hb5fA"
        "03lxAoVtHZihngfDtgg8eSZOrLC5XT904f6wPCfq/jiDLUs2AtzI5ERFCkJ2AtzzSVIqb1cmAITkXdHFuz4ZHi0WRAULcpLG"
        "pAJc9YUVfmhKfrBCVCpA750hS9LPF0TFC6Iy3qQClL/vVT4ARKUC9A0OmXMzOS6qVJC2tEd9bq85mfmFagWAtKU9crm95hQ/"
        "fa5WAEhb2iPXgNec0tdytQJA2tIeXbrtMUdUtSzt6R/g8i2POdUNYGlP+wBHsutXMwVs9jAAAAAASUVORK5CYII=";

constexpr std::int64_t minute = 60'000;

} // namespace

SeedData demoSeed()
{
    SeedData seed;
    seed.accounts = {
        {demoPhone, "演示用户", std::string(demoAvatar)},
        {"13900000001", "产品经理小林", std::nullopt},
        {"13900000002", "行政小周", std::nullopt},
    };
    seed.spaces = {
        {"产品小组", "#3B82F6", {{0, true}, {1, true}}},
        {"公司公告", "#F59E0B", {{0, false}, {2, true}}},
    };
    // Oldest first; the newest clip is the last one.
    seed.items = {
        {0, std::nullopt, "周末购物清单", "牛奶 鸡蛋  面包\n 还有洗衣液", "牛奶 鸡蛋 面包\n还有洗衣液。", "ready", "done",
         "iPhone", false, 300 * minute},
        {2, 1, "五一放假通知", "五一劳动节放假五天 五月一日至五日 四月二十八日正常上班",
         "五一劳动节放假五天，五月一日至五日；四月二十八日正常上班。", "ready", "done", "办公电脑", false, 260 * minute},
        {1, 0, "需求评审纪要", "评审结论 首页改版先做搜索框 推荐位下个迭代再说",
         "评审结论：首页改版先做搜索框，推荐位下个迭代再说。", "ready", "done", "iPad", false, 220 * minute},
        {0, std::nullopt, "Meeting notes", "sync with design team about   the onboarding flow",
         "Sync with design team about the onboarding flow.", "ready", "done", "iPhone", true, 180 * minute},
        {0, 0, "竞品观察", "竞品新版本加了语音转文字 识别速度很快 但是标点不太准",
         "竞品新版本加了语音转文字，识别速度很快，但是标点不太准。", "ready", "done", "iPhone", false, 150 * minute},
        {2, 1, "会议室预订", "三楼大会议室周四下午维修 请改订二楼", "三楼大会议室周四下午维修，请改订二楼。", "ready",
         "done", "办公电脑", false, 120 * minute},
        {0, std::nullopt, "灵感", "写一篇关于通勤路上碎片时间的文章", "写一篇关于通勤路上碎片时间的文章。", "ready", "done",
         "iPhone", true, 95 * minute},
        // The one clip whose optimization gave nothing: only its raw text is there.
        {0, std::nullopt, "语音备忘", "嗯 那个 明天记得给房东打电话", "", "ready", "failed", "iPhone", false,
         70 * minute},
        {1, 0, "上线检查", "上线前检查 崩溃率 启动耗时 还有埋点", "上线前检查：崩溃率、启动耗时，还有埋点。", "ready", "done",
         "iPad", false, 45 * minute},
        {2, 1, "体检安排", "年度体检下周一开始 按部门分批 具体时间看邮件",
         "年度体检下周一开始，按部门分批，具体时间看邮件。", "ready", "done", "办公电脑", false, 30 * minute},
        {0, std::nullopt, "快递地址", "北京市海淀区中关村大街 1 号 收件人 王先生",
         "北京市海淀区中关村大街 1 号，收件人：王先生。", "ready", "done", "iPhone", false, 12 * minute},
        {0, 0, "给设计的反馈", "图标再大一点 颜色用品牌蓝 间距统一成 8", "图标再大一点，颜色用品牌蓝，间距统一成 8。",
         "ready", "done", "iPhone", false, 3 * minute},
    };
    return seed;
}

} // namespace quillpost::devservice
