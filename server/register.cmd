@echo off
rem Registers the counter server and its proxy/stub DLLs for this user, or
rem with /AllUsers (as an administrator) for every user of the machine.
"%~dp0kestrelsrv.exe" /RegServer %*
if errorlevel 1 echo Registration failed. & exit /b 1
echo The counter server is registered.
