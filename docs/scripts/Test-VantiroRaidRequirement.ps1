# Test-VantiroRaidRequirement.ps1: Intune requirement script. Outputs
# "present" when the controller is there and its driver is installed, and
# nothing otherwise.
#
# The setup updates the controller's driver; it does not install the first
# one. On a machine whose controller has no driver service yet, every run and
# every retry would end with 87: such a machine does not meet the requirement.

$hardwareId = 'PCI\VEN_1D5A&DEV_0100'   # DeviceID of Inst.Inf
$service    = 'vraid'                   # DeviceName of Inst.Inf

# -ccontains: the setup matches hardware IDs exactly, case and all.
$controller = Get-PnpDevice -PresentOnly -ErrorAction SilentlyContinue |
    Where-Object { $_.HardwareID -ccontains $hardwareId }
$driver = Test-Path -LiteralPath "HKLM:\SYSTEM\CurrentControlSet\Services\$service"
if ($controller -and $driver) { 'present' }
exit 0
