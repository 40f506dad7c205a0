# Install-VantiroRaid.ps1: runs "setup.exe /QN" from this script's folder,
# prints what its exit code means and what the run record says of the run,
# and ends with the setup's exit code.
#
# Put it into the product folder, beside setup.exe, and run it as SYSTEM or
# from an elevated prompt:
#   powershell.exe -NoProfile -ExecutionPolicy Bypass -File Install-VantiroRaid.ps1
# Started without administrator rights, setup.exe brings up the UAC prompt.
#
# The setup keeps its own logs (with Debug=1 in Inst.Inf: one per run in
# %ProgramData%\VANTIRO\RAID Setup\Logs, the newest 20) and records each run
# under HKLM\SOFTWARE\VANTIRO\RAID Setup, so this script copies no log.

$setup = Join-Path $PSScriptRoot 'setup.exe'

# The run record is in the 64-bit registry view on 64-bit Windows; opened
# through that view, it is found also from a 32-bit PowerShell.
function Get-RunRecord {
    $machine = [Microsoft.Win32.RegistryKey]::OpenBaseKey('LocalMachine', 'Registry64')
    try {
        $key = $machine.OpenSubKey('SOFTWARE\VANTIRO\RAID Setup')
        if ($null -eq $key) { return $null }
        try {
            [pscustomobject]@{
                LastRunTime = $key.GetValue('LastRunTime')
                LastResult  = $key.GetValue('LastResult')
                LogFile     = $key.GetValue('LogFile')
            }
        } finally { $key.Close() }
    } finally { $machine.Close() }
}

# The setup's own exit codes and the Windows Installer numbers it passes on.
function Get-ExitCodeMeaning([int]$code) {
    switch ($code) {
        0       { 'done' }
        3010    { 'done, restart required (RestartExitCode=3010)' }
        1641    { 'Windows is restarting; run the setup again afterwards' }
        1       { 'Inst.Inf not found beside setup.exe' }
        2       { 'the user answered No (only interactive runs)' }
        3       { 'refused, nothing changed: an invalid option, Windows older than OSVER, no controller, an incomplete driver entry, or setup.exe without a 64-bit setup64.exe' }
        87      { 'driver update failed' }
        100     { 'a run would change something (only with /C, a check)' }
        126     { "Windows Installer's library could not be loaded" }
        161     { 'the stored uninstall program is refused' }
        206     { 'a path or command did not fit' }
        258     { 'the registry editor hung' }
        1013    { 'the imported settings do not read back as exported (export kept)' }
        1062    { 'the zelmsvc service does not run afterwards' }
        1392    { 'the record of an unfinished upgrade cannot be read or its export is gone' }
        1603    { "Windows Installer's fatal error, or a step that failed with 1, 2 or 3" }
        1618    { 'another setup or installation is running; retry later (a retry finishes the work)' }
        1619    { 'the package cannot be read' }
        1620    { 'the package lacks ProductCode or ProductVersion' }
        default { "the utility stage failed with Windows Installer or Windows number $code" }
    }
}

# A wrapper that cannot start the setup ends with 1603, as the setup does for
# a step of its own that fails: 1, 2 and 3 would read as the setup's answers.
if (-not (Test-Path -LiteralPath $setup -PathType Leaf)) {
    Write-Output "setup.exe not found in ${PSScriptRoot}: put this script into the product folder (exit code 1603)"
    exit 1603
}
# Whole seconds, as LastRunTime has them: a record older than this is not
# this run's.
$now = [datetime]::UtcNow
$started = $now.AddTicks(-($now.Ticks % [timespan]::TicksPerSecond))
# Waits for setup.exe alone: Start-Process -Wait would also wait for every
# process the setup started, and the call operator does not wait for a GUI
# program. The shell starts it, so that its manifest can ask for elevation.
try {
    $start = New-Object System.Diagnostics.ProcessStartInfo
    $start.FileName = $setup
    $start.Arguments = '/QN'
    $start.WorkingDirectory = $PSScriptRoot
    $start.UseShellExecute = $true
    $process = [System.Diagnostics.Process]::Start($start)
    $process.WaitForExit()
} catch {
    Write-Output "setup.exe could not be started: $($_.Exception.Message) (exit code 1603)"
    exit 1603
}
$code = $process.ExitCode

Write-Output "VANTIRO RAID Setup ended with exit code ${code}: $(Get-ExitCodeMeaning $code)"
$record = Get-RunRecord
$runTime = [datetime]::MinValue
$recorded = $null -ne $record -and
    [datetime]::TryParseExact([string]$record.LastRunTime, "yyyy-MM-dd'T'HH:mm:ss'Z'",
        [Globalization.CultureInfo]::InvariantCulture,
        [Globalization.DateTimeStyles]'AssumeUniversal, AdjustToUniversal', [ref]$runTime) -and
    $runTime -ge $started
if ($recorded) {
    Write-Output "LastResult: $($record.LastResult)"
    if ($record.LogFile) {
        Write-Output "LogFile: $($record.LogFile)"
    } else {
        Write-Output 'LogFile: none, the run kept no log (Debug=0 in Inst.Inf)'
    }
} else {
    # An invalid option ends the run before it records anything.
    Write-Output 'The run left no record under HKLM\SOFTWARE\VANTIRO\RAID Setup.'
}
exit $code
