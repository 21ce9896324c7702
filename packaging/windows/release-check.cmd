@echo off
rem The release checks only a real Windows machine can make: run by the
rem release manager in a folder holding corvane-flash.exe, corvane-updater.exe
rem and midi_link_check.exe (all from build-windows\bin), with the device and,
rem for the message checks, a MIDI loopback cable (one interface's OUT joined
rem to its IN). Each step says what to do and asks what happened; the answers
rem and every program's output go to release-check.log beside the programs.
rem   release-check.cmd ["CABLE IN NAME" "CABLE OUT NAME" [COUNT]]
rem COUNT messages go over the cable (default 5000); a cable between DIN
rem sockets carries only about two block-sized messages a second.
rem The script's folder is named once, before delayed expansion (which would
rem eat a "!" in it), and never inside a block (where a ")" in it would end
rem the block): the files are named relative to it.
setlocal EnableExtensions
cd /d "%~dp0"
setlocal EnableDelayedExpansion
set LOG=release-check.log
set OUT=release-check.out
set FAILED=0
set DEVICE=BRAX Lumen Series
set COUNT=5000
if not "%~3"=="" set COUNT=%~3
for %%P in (corvane-flash.exe corvane-updater.exe midi_link_check.exe) do (
  if not exist "%%P" (
    echo %%P is missing: copy it from build-windows\bin beside this script.
    exit /b 2
  )
)
echo Release checks of %DATE% %TIME% > "%LOG%"
echo.
echo == The signatures
echo Open Properties, Digital Signatures of corvane-updater.exe and of the installer.
call :ask "Is each signed, with a time-stamp from the server packaging\windows\timestamp-server names"
corvane-flash.exe --version >> "%LOG%" 2>&1
ver >> "%LOG%"

echo.
echo == The MIDI ports Windows lists now
corvane-flash.exe --list
corvane-flash.exe --list >> "%LOG%" 2>&1

rem ---- Messages over the loopback cable --------------------------------
if "%~2"=="" (
  echo.
  echo No loopback cable named: the message checks are skipped.
  echo SKIP messages: no cable named >> "%LOG%"
  goto device
)
call :run "%COUNT% block-sized messages out and back in, none lost or doubled" ^
  midi_link_check.exe --in "%~1" --out "%~2" --count %COUNT% --size 4700
call :prompt "Now pull the cable's USB plug while the next check runs (about 10 s in)"
call :run_expect_failure "Unplug mid-send and mid-receive: the check ends by itself" ^
  midi_link_check.exe --in "%~1" --out "%~2" --count 100000 --size 4700
call :ask "Did the check end within 15 s of the unplug, without hanging or crashing"
call :prompt "Plug the cable back in"

:device
rem ---- The device ------------------------------------------------------
call :prompt "Connect the device (%DEVICE%) and switch it on"
call :run "A full update on the device with its replug flow: unplug and replug when asked" ^
  corvane-flash.exe
call :prompt "With no update running, pull the device's USB plug, wait 5 s, plug it back in"
call :run "Unplug while idle: the device is listed again and updates" corvane-flash.exe
call :prompt "The next update starts; pull the device's plug once Data transmit shows"
call :run_expect_failure "Unplug mid-update: a box, no hang" corvane-flash.exe
call :ask "Did it stop within 5 s of the unplug with a time-out box"
call :ask "Did it print no warning that a MIDI driver kept what it was given"
call :prompt "Plug the device back in"
echo A second console starts an update; close that console window once Data transmit shows.
start "update to close" /wait corvane-flash.exe
call :run "After a console closed mid-update the ports are free and the update completes" ^
  corvane-flash.exe
echo A second console waits for devices; unplug and replug the device, then close that
echo console window once Data transmit shows.
start "waiting update to close" /wait corvane-flash.exe --all --wait
call :ask "Did that console close within 5 s, without a box that the program does not respond"
call :run "After a waiting console closed mid-update the update completes" corvane-flash.exe

rem ---- Two identical devices -------------------------------------------
call :prompt "Connect a second identical device as well (skip with Enter if you have one only)"
corvane-flash.exe --instance 2 --list
corvane-flash.exe --instance 2 --list >> "%LOG%" 2>&1
call :ask "Does copy 2 mark the second device's ports: 2- %DEVICE% or %DEVICE% (2)"
echo Start both updates now; in each window answer the replug request.
start "copy 1" corvane-updater.exe
start "copy 2" corvane-updater.exe
call :ask "Did both windows complete, each on its own device, after the replug"

rem ---- The window --------------------------------------------------------
echo.
echo Check the window (corvane-updater.exe) by hand:
echo  - at 100, 150 and 200 percent display scaling: nothing cut off or overlapping;
echo  - with the keyboard alone: Tab order, mnemonics, Enter does not start
echo    an update by itself, Escape closes;
echo  - with Narrator: each list is read with its own label, the progress and
echo    the status are read.
call :ask "Scaling 100 percent"
call :ask "Scaling 150 percent"
call :ask "Scaling 200 percent"
call :ask "Keyboard"
call :ask "Screen reader"

echo.
if %FAILED%==0 (
  echo Every check passed. The log is %LOG% beside this script.
  echo RESULT: PASS >> "%LOG%"
  exit /b 0
)
echo %FAILED% check^(s^) failed; see %LOG% beside this script.
echo RESULT: FAIL ^(%FAILED%^) >> "%LOG%"
exit /b 1

rem ---- Helpers -----------------------------------------------------------
rem Texts given to the helpers hold no quotes or percent signs, which cmd
rem would read as its own syntax.
rem :run TITLE COMMAND...  runs the command; passes when it exits with 0.
:run
set TITLE=%~1
shift
echo.
echo == %TITLE%
echo == %TITLE% >> "%LOG%"
%1 %2 %3 %4 %5 %6 %7 %8 %9 > "%OUT%" 2>&1
set RC=!ERRORLEVEL!
type "%OUT%"
type "%OUT%" >> "%LOG%"
if !RC!==0 (
  echo PASS: !TITLE! >> "%LOG%"
) else (
  echo FAIL ^(exit !RC!^): !TITLE! >> "%LOG%"
  echo FAIL ^(exit !RC!^)
  set /a FAILED+=1
)
goto :eof

rem :run_expect_failure TITLE COMMAND...  runs the command, which is to fail
rem cleanly (exit 1), neither hang nor crash.
:run_expect_failure
set TITLE=%~1
shift
echo.
echo == %TITLE%
echo == %TITLE% >> "%LOG%"
%1 %2 %3 %4 %5 %6 %7 %8 %9 > "%OUT%" 2>&1
set RC=!ERRORLEVEL!
type "%OUT%"
type "%OUT%" >> "%LOG%"
if !RC!==1 (
  echo PASS: !TITLE! >> "%LOG%"
) else (
  echo FAIL ^(exit !RC!, expected 1^): !TITLE! >> "%LOG%"
  echo FAIL ^(exit !RC!, expected 1^)
  set /a FAILED+=1
)
goto :eof

rem :prompt TEXT  waits for Enter once the tester has done it.
:prompt
echo.
set /p DONE=">> %~1, then press Enter: "
goto :eof

rem :ask QUESTION  records the tester's yes or no.
:ask
set QUESTION=%~1
set ANSWER=
set /p ANSWER="?? !QUESTION! [y/n]: "
if /i "!ANSWER!"=="y" (
  echo PASS: !QUESTION! >> "%LOG%"
) else (
  echo FAIL: !QUESTION! >> "%LOG%"
  set /a FAILED+=1
)
goto :eof
