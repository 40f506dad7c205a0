# Detect-VantiroRaid.ps1: custom detection script for Configuration Manager
# or Intune. Writes "detected" and ends with 0 when the utility and the
# driver are at least the packaged versions; writes nothing otherwise. Run it
# as a 64-bit process on 64-bit Windows.

$productCode    = '{6D1B2C8E-3F4A-4E57-9A1C-2B7E5D0F9A31}'   # ProductCode of the package; '' for a driver-only product folder
$utilityAtLeast = '1.2.10'                                    # ProductVersion of the package
$service        = 'vraid'                                     # DeviceName of Inst.Inf
$driverAtLeast  = '2.0.0.5'                                   # DriverVer of the packaged INF

# A version padded to four parts, as the setup compares them: '1.2.10' is
# 1.2.10.0. [version]'1.2.10' is not that: its Revision is -1, and it is less
# than [version]'1.2.10.0', so an installed '1.2.10' would not count as at
# least a required '1.2.10.0'. $null when the text holds no such version.
function ConvertTo-FourPartVersion([string]$text) {
    $parts = @($text.Trim().Split('.'))
    if ($parts.Count -gt 4) { return $null }
    $numbers = @(0, 0, 0, 0)
    for ($i = 0; $i -lt $parts.Count; $i++) {
        $number = 0
        if (-not [int]::TryParse($parts[$i], [Globalization.NumberStyles]::None,
                [Globalization.CultureInfo]::InvariantCulture, [ref]$number)) { return $null }
        $numbers[$i] = $number
    }
    [version]::new($numbers[0], $numbers[1], $numbers[2], $numbers[3])
}

# DisplayVersion of the uninstall entry, in the 64-bit view first and then in
# the 32-bit one, as the setup looks for it; found also from a 32-bit process.
function Get-UtilityVersion {
    foreach ($view in 'Registry64', 'Registry32') {
        $machine = [Microsoft.Win32.RegistryKey]::OpenBaseKey('LocalMachine', $view)
        try {
            $entry = $machine.OpenSubKey("SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\$productCode")
            if ($entry) {
                try { return ConvertTo-FourPartVersion ([string]$entry.GetValue('DisplayVersion')) }
                finally { $entry.Close() }
            }
        } finally { $machine.Close() }
    }
}

# The driver file as the setup finds it: ImagePath, expanded, with Windows'
# "\??\", "\SystemRoot\" and Windows-relative forms resolved.
function Get-DriverVersion {
    $key   = "HKLM:\SYSTEM\CurrentControlSet\Services\$service"
    $image = (Get-ItemProperty -LiteralPath $key -ErrorAction SilentlyContinue).ImagePath
    if (-not $image) { return }
    $windows = [Environment]::GetFolderPath('Windows')
    $path = [Environment]::ExpandEnvironmentVariables($image)
    if ($path.StartsWith('\??\', 'OrdinalIgnoreCase')) {
        $path = $path.Substring(4)
    } elseif ($path.StartsWith('\SystemRoot\', 'OrdinalIgnoreCase')) {
        $path = Join-Path $windows $path.Substring(12)
    } elseif ($path -notmatch '^(\\|.:)') {
        $path = Join-Path $windows $path
    }
    # A 32-bit process would read System32 as SysWOW64: Sysnative is the real one.
    if ([Environment]::Is64BitOperatingSystem -and -not [Environment]::Is64BitProcess) {
        $system32 = Join-Path $windows 'System32'
        if ($path.StartsWith("$system32\", 'OrdinalIgnoreCase')) {
            $path = Join-Path (Join-Path $windows 'Sysnative') $path.Substring($system32.Length + 1)
        }
    }
    $info = (Get-Item -LiteralPath $path -ErrorAction SilentlyContinue).VersionInfo
    if ($info) {
        [version]::new($info.FileMajorPart, $info.FileMinorPart, $info.FileBuildPart, $info.FilePrivatePart)
    }
}

# A value at the top that holds no version detects nothing.
try {
    $utilityMinimum = ConvertTo-FourPartVersion $utilityAtLeast
    $driverMinimum  = ConvertTo-FourPartVersion $driverAtLeast
    $driver  = Get-DriverVersion
    $current = $driverMinimum -and $driver -and $driver -ge $driverMinimum
    if ($current -and $productCode) {
        $utility = Get-UtilityVersion
        $current = $utilityMinimum -and $utility -and $utility -ge $utilityMinimum
    }
    if ($current) { 'detected' }
} catch { }
exit 0
