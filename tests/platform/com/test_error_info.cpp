// Error information belongs to the thread that set it.
#include <gtest/gtest.h>

#include <thread>

#include "com/com.h"

namespace {

std::string DescriptionOf(IErrorInfo* e) {
    com::BStr d;
    e->GetDescription(d.Put());
    return d.Utf8();
}

TEST(ComErrorInfo, SetGetAndClear) {
    GUID g = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    ASSERT_EQ(com::SetErrorInfoText(g, "Src.1", "Something \xE2\x82\xAC failed"), S_OK);
    com::ComPtr<IErrorInfo> info;
    ASSERT_EQ(GetErrorInfo(0, info.Put()), S_OK);
    ASSERT_TRUE(info);
    EXPECT_EQ(DescriptionOf(info.Get()), "Something \xE2\x82\xAC failed");
    com::BStr source;
    info->GetSource(source.Put());
    EXPECT_EQ(source.Utf8(), "Src.1");
    GUID back;
    info->GetGUID(&back);
    EXPECT_EQ(back, g);
    // Handed over: the thread has none now.
    com::ComPtr<IErrorInfo> again;
    EXPECT_EQ(GetErrorInfo(0, again.Put()), S_FALSE);
    EXPECT_FALSE(again);

    com::SetErrorInfoText(GUID_NULL, "a", "b");
    SetErrorInfo(0, nullptr);
    EXPECT_EQ(GetErrorInfo(0, again.Put()), S_FALSE);
}

TEST(ComErrorInfo, BuiltThroughICreateErrorInfo) {
    com::ComPtr<ICreateErrorInfo> create;
    ASSERT_EQ(CreateErrorInfo(create.Put()), S_OK);
    create->SetDescription(const_cast<LPOLESTR>(u"desc"));
    create->SetHelpContext(17);
    com::ComPtr<IErrorInfo> info;
    ASSERT_EQ(create.As(IID_IErrorInfo, &info), S_OK);
    ASSERT_EQ(SetErrorInfo(0, info.Get()), S_OK);
    info.Reset();
    ASSERT_EQ(GetErrorInfo(0, info.Put()), S_OK);
    EXPECT_EQ(DescriptionOf(info.Get()), "desc");
    DWORD ctx = 0;
    info->GetHelpContext(&ctx);
    EXPECT_EQ(ctx, 17u);
    com::ComPtr<IDispatch> none;
    EXPECT_EQ(info.As(IID_IDispatch, &none), E_NOINTERFACE);
}

TEST(ComErrorInfo, EachThreadHasItsOwn) {
    com::SetErrorInfoText(GUID_NULL, "main", "main error");
    std::string seenByOther = "unset";
    std::thread other([&] {
        com::ComPtr<IErrorInfo> info;
        seenByOther = GetErrorInfo(0, info.Put()) == S_FALSE ? "none" : DescriptionOf(info.Get());
        com::SetErrorInfoText(GUID_NULL, "other", "other error");  // released when the thread ends
    });
    other.join();
    EXPECT_EQ(seenByOther, "none");
    com::ComPtr<IErrorInfo> info;
    ASSERT_EQ(GetErrorInfo(0, info.Put()), S_OK);
    EXPECT_EQ(DescriptionOf(info.Get()), "main error");
}

}  // namespace
