@echo off
rem The developer kit's check, for a real Windows 10 or 11 (CI runs it under
rem Wine): the end-to-end suite against ProgrammerSetup.exe and the stand-in
rem TAMLAISPDLL.DLL in this folder, then what the system reports for the
rem tool's process (DPI awareness, the comctl32 it loaded, the ANSI code page,
rem the dialog's font), then the library probe against the stand-in (probe.cmd),
rem which must find that every assumption holds (exit status 0). Each
rem scenario keeps its files in runs\ here (or in E2E_RUNS); the display checks
rem expect the system's DPI (or E2E_EXPECT_DPI).
rem
rem   verify.cmd [name-filter]      comma-separated parts of scenario names
setlocal
cd /d "%~dp0"
e2e_driver.exe suite . %1
set suite=%errorlevel%
echo.
e2e_driver.exe facts .
set facts=%errorlevel%
echo.
call probe.cmd
set probe=%errorlevel%
echo.
if "%suite%%facts%%probe%"=="000" (
    echo verify: PASS
    exit /b 0
)
echo verify: FAIL (suite %suite%, facts %facts%, probe %probe%)
exit /b 1
