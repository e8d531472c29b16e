// Child process with an output pipe, run against the fake setup program.
#include <gtest/gtest.h>

#include "ProcessRunner.h"
#include "test_support.h"

namespace {

std::wstring FakeSetup() { return L"\"" + testsupport::ProgramFolder() + L"\\fake-setup.exe\""; }

std::string ReadAll(HANDLE pipe)
{
    std::string out;
    char buf[1024];
    DWORD got = 0;
    while (::ReadFile(pipe, buf, sizeof buf, &got, nullptr) && got) out.append(buf, got);
    return out;
}

TEST(ProcessRunner, ReadsTheChildOutputUntilThePipeBreaks)
{
    testsupport::TempFolder dir(L"proc");
    std::wstring script = dir.File(L"script.txt");
    ASSERT_TRUE(testsupport::WriteFileBytes(script, "line hello\nstderr 100000\nburst 3 x=1\nexit 7\n"));
    ::SetEnvironmentVariableW(L"FAKE_SETUP_SCRIPT", script.c_str());
    ::SetEnvironmentVariableW(L"FAKE_SETUP_LOG", nullptr);
    ProcessRunner runner;
    runner.Start(FakeSetup() + L" arg");
    // A flood on standard error must not block the child: it goes nowhere.
    EXPECT_EQ(ReadAll(runner.OutputRead()), "hello\r\nx=1\r\nx=1\r\nx=1\r\n");
    ASSERT_EQ(::WaitForSingleObject(runner.Process(), 60000), WAIT_OBJECT_0);
    DWORD code = 0;
    ::GetExitCodeProcess(runner.Process(), &code);
    EXPECT_EQ(code, 7u);
    runner.CloseHandles();
    EXPECT_EQ(runner.Process(), nullptr);
    runner.CloseHandles();   // twice is harmless
    ::SetEnvironmentVariableW(L"FAKE_SETUP_SCRIPT", nullptr);
}

TEST(ProcessRunner, MissingProgramThrowsAndLeavesNoChild)
{
    ProcessRunner runner;
    EXPECT_THROW(runner.Start(L"\"C:\\no\\such\\program.exe\" /S"), Utils::Exception);
    EXPECT_EQ(runner.Process(), nullptr);
    runner.CloseHandles();
}

TEST(ProcessRunner, CommandLineLengthLimit)
{
    std::wstring base = FakeSetup() + L" ";
    std::wstring exact = base + std::wstring(ProcessRunner::kMaxCommandLine - base.size(), L'a');
    ASSERT_EQ(exact.size(), 1023u);
    ::SetEnvironmentVariableW(L"FAKE_SETUP_SCRIPT", nullptr);
    {
        ProcessRunner runner;
        EXPECT_NO_THROW(runner.Start(exact));
        if (runner.Process()) ::WaitForSingleObject(runner.Process(), 60000);
    }
    ProcessRunner tooLong;
    EXPECT_THROW(tooLong.Start(exact + L"a"), Utils::Exception);
    EXPECT_EQ(tooLong.Process(), nullptr);
}

}  // namespace
