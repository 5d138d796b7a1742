@echo off
rem Runs every test program of this bundle, one after the other, on Windows
rem (or under Wine), each with its output in logs\<program>.log, and ends
rem with one line: N passed, M failed, K skipped. Its exit status is 0 only
rem when nothing failed. A program that ends without its summary file (a
rem crash, or the tests' own hang report) counts as one failure at least.
rem
rem   run-tests.cmd [PATH\discord-rpc.dll]
rem
rem The argument names Discord's own discord-rpc.dll (3.4.0, 32-bit, from
rem https://github.com/discord/discord-rpc/releases/tag/v3.4.0): the check's
rem end-to-end tests then run with it as well as with the stand-in.
setlocal enabledelayedexpansion
cd /d "%~dp0"
set NOWGLOW_DISCORD_RPC_DLL=
if not "%~1"=="" (
    if not exist "%~f1" (
        echo run-tests: %~1: no such file
        exit /b 2
    )
    set "NOWGLOW_DISCORD_RPC_DLL=%~f1"
    echo run-tests: with Discord's own library, %~f1
)
if not exist logs mkdir logs
set /a passed=0, failed=0, skipped=0
for %%t in (*_test.exe) do call :run %%~nt
echo !passed! passed, !failed! failed, !skipped! skipped
if !failed! gtr 0 exit /b 1
exit /b 0

rem Runs one program and adds its counts, which it writes to its summary
rem file as it ends; a program that ends without one counts as failed.
:run
set "NOWGLOW_SUMMARY_FILE=%~dp0logs\%~1.summary"
if exist "%NOWGLOW_SUMMARY_FILE%" del "%NOWGLOW_SUMMARY_FILE%"
"%~1.exe" >"logs\%~1.log" 2>&1
set status=%errorlevel%
set /a p=0, f=0, s=0
if exist "%NOWGLOW_SUMMARY_FILE%" (
    for /f "usebackq tokens=1,2" %%a in ("%NOWGLOW_SUMMARY_FILE%") do (
        if "%%a"=="passed" set /a p=%%b
        if "%%a"=="failed" set /a f=%%b
        if "%%a"=="skipped" set /a s=%%b
    )
)
if not "%status%"=="0" if !f!==0 set /a f=1
if not exist "%NOWGLOW_SUMMARY_FILE%" if !f!==0 set /a f=1
echo == %~1: !p! passed, !f! failed, !s! skipped
if exist "%NOWGLOW_SUMMARY_FILE%" (
    for /f "usebackq tokens=1,2" %%a in ("%NOWGLOW_SUMMARY_FILE%") do (
        if "%%a"=="skipped-test" echo    skipped: %%b
    )
)
if not "%status%"=="0" echo    exit status %status%; see logs\%~1.log
set /a passed+=p, failed+=f, skipped+=s
exit /b 0
