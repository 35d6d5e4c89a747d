# Sourced by the test command: the virtual PDF printer the printing tests print to,
# a local cupsd with a default "PDF" queue (cups-pdf) whose jobs land in $HOME/PDF.

# `lpstat -r` exits 0 whether or not the scheduler runs: only its words tell.
cups_scheduler_running() {
  lpstat -r 2>/dev/null | grep -qx 'scheduler is running'
}

start_pdf_printer() {
  command -v cupsd >/dev/null || return 0
  local sudo_=""
  [ "$(id -u)" = 0 ] || sudo_=sudo
  if ! cups_scheduler_running; then
    $sudo_ mkdir -p /run/cups  # missing on a fresh machine, and cupsd will not make it
    $sudo_ cupsd
    for _ in $(seq 50); do cups_scheduler_running && break; sleep 0.1; done
  fi
  lpstat -p PDF >/dev/null 2>&1 ||
    $sudo_ lpadmin -p PDF -E -v cups-pdf:/ -P /usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd 2>/dev/null
  lpstat -d 2>/dev/null | grep -q ': PDF$' || $sudo_ lpadmin -d PDF
}
