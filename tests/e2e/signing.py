"""Authenticode signatures for the end-to-end tests: a code-signing certificate of the test's own
(made with openssl, trusted by nothing but the verification that names it) and osslsigncode, as a
publisher would sign a setup after building it."""
import os
import shutil
import subprocess

OSSLSIGNCODE = shutil.which("osslsigncode") or "/usr/bin/osslsigncode"


class TestSigner:
    def __init__(self, folder):
        os.makedirs(folder, exist_ok=True)
        self.key = os.path.join(folder, "publisher.key")
        self.cert = os.path.join(folder, "publisher.crt")
        if not os.path.exists(self.cert):
            subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", self.key,
                            "-out", self.cert, "-days", "30", "-subj", "/CN=Ulvane Test Publisher",
                            "-addext", "extendedKeyUsage=codeSigning"], check=True, capture_output=True)

    def sign(self, path):
        """Signs `path` in place (SHA-256 digest, no time stamp: the tests run without a network)."""
        signed = path + ".signed"
        subprocess.run([OSSLSIGNCODE, "sign", "-certs", self.cert, "-key", self.key, "-n", "Sample Setup",
                        "-h", "sha256", "-in", path, "-out", signed], check=True, capture_output=True)
        os.replace(signed, path)
        return path

    def verify(self, path):
        """osslsigncode's verdict: (exit code, what it printed)."""
        result = subprocess.run([OSSLSIGNCODE, "verify", "-CAfile", self.cert, "-in", path],
                                capture_output=True, text=True)
        return result.returncode, result.stdout + result.stderr
