-- The tests' private server plays only into its null sink, whatever devices the machine has.
bluez_monitor.enabled = false
