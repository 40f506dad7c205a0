# Get-VantiroRaidRecord.ps1: reads the run record that setup.exe keeps under
# HKLM\SOFTWARE\VANTIRO\RAID Setup and prints it as one object.
#
# In PowerShell: .\Get-VantiroRaidRecord.ps1. It ends with 0 when the last run
# ended with 0 or 3010, otherwise with 1 (also when the setup never ran on the
# machine).
#
# In Intune, as the detection script of a remediation: 1 runs the
# remediation script (Install-VantiroRaid.ps1, for example). As the discovery
# script of a custom compliance setting, with -Compliance: one line of JSON
# with LastExitCode (Int64), DriverVersion and UtilityVersion (Version) and
# RestartDue (Boolean), for rules such as LastExitCode IsEquals 0.
#
# In Configuration Manager, no script is needed to collect the record: add the
# key to hardware inventory as a registry class (a class in configuration.mof,
# enabled in the client settings' hardware inventory), and its values are
# inventoried with each machine, for collections and reports.
#
# The record's values, as the last run (setup.exe or setup64.exe) left them:
#   LastExitCode      REG_DWORD  the run's exit code
#   LastRunTime       REG_SZ     when it ended, UTC, YYYY-MM-DDThh:mm:ssZ
#   LastResult        REG_SZ     what it did or why not, one English sentence
#   UtilityVersion    REG_SZ     the utility installed after the run; empty: none
#   DriverVersion     REG_SZ     the driver installed after the run; empty: none
#   RestartDue        REG_DWORD  1: the run left a restart due
#   LogFile           REG_SZ     the run's log; empty: none (Debug=0)
#   SetupVersion      REG_SZ     the version of the setup that ran
# and, written by a check ("setup.exe /C"), which changes nothing else:
#   LastCheckTime     REG_SZ     when it ended, UTC
#   LastCheckResult   REG_SZ     what it found, or what would stop a run
#   LastCheckExitCode REG_DWORD  0: a run would change nothing; 100: a run
#                                would change something; otherwise what
#                                would stop a run
param(
    [switch]$Compliance
)

$names = 'LastExitCode', 'LastRunTime', 'LastResult', 'UtilityVersion', 'DriverVersion', 'RestartDue',
         'LogFile', 'SetupVersion', 'LastCheckTime', 'LastCheckResult', 'LastCheckExitCode'

# REG_DWORD comes back as a signed number: exit codes of 0x80000000 and
# above would read negative.
function ConvertTo-Unsigned($value) {
    if ($value -is [int]) { [BitConverter]::ToUInt32([BitConverter]::GetBytes($value), 0) } else { $value }
}

# The record is in the 64-bit registry view on 64-bit Windows; opened through
# that view, it is found also from a 32-bit process (Intune and Configuration
# Manager may run scripts as one).
function Get-RunRecord {
    $machine = [Microsoft.Win32.RegistryKey]::OpenBaseKey('LocalMachine', 'Registry64')
    try {
        $key = $machine.OpenSubKey('SOFTWARE\VANTIRO\RAID Setup')
        if ($null -eq $key) { return $null }
        try {
            $record = [ordered]@{}
            foreach ($name in $names) { $record[$name] = ConvertTo-Unsigned $key.GetValue($name) }
            [pscustomobject]$record
        } finally { $key.Close() }
    } finally { $machine.Close() }
}

# Whether Windows has started since the time of the record: a restart that
# the record calls due has then been made.
function Test-StartedSince([string]$utcTime) {
    $time = [datetime]::MinValue
    if (-not [datetime]::TryParseExact($utcTime, "yyyy-MM-dd'T'HH:mm:ss'Z'",
            [Globalization.CultureInfo]::InvariantCulture,
            [Globalization.DateTimeStyles]'AssumeUniversal, AdjustToUniversal', [ref]$time)) { return $false }
    $booted = (Get-CimInstance -ClassName Win32_OperatingSystem).LastBootUpTime.ToUniversalTime()
    $booted -gt $time
}

$record = Get-RunRecord

if ($Compliance) {
    # Each setting always has a value of its type: no record gives
    # LastExitCode -1, no version 0.0.0.0, so that a rule on them reads
    # "not compliant" rather than failing to compare. RestartDue is true only
    # while the restart has not been made.
    $settings = [ordered]@{ LastExitCode = [long]-1; DriverVersion = '0.0.0.0'; UtilityVersion = '0.0.0.0'; RestartDue = $false }
    if ($record) {
        if ($null -ne $record.LastExitCode) { $settings.LastExitCode = [long]$record.LastExitCode }
        if ($record.DriverVersion) { $settings.DriverVersion = [string]$record.DriverVersion }
        if ($record.UtilityVersion) { $settings.UtilityVersion = [string]$record.UtilityVersion }
        $settings.RestartDue = $record.RestartDue -eq 1 -and -not (Test-StartedSince $record.LastRunTime)
    }
    $settings | ConvertTo-Json -Compress
    exit 0
}

if (-not $record) {
    Write-Output 'No run record: setup.exe has not run on this machine.'
    exit 1
}
$record
if ($record.LastExitCode -eq 0 -or $record.LastExitCode -eq 3010) { exit 0 }
exit 1
