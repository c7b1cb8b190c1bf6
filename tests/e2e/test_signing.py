"""Setups signed after the build, as publishers sign them: osslsigncode adds a certificate table
after the container, which the stub finds through its end-of-data field. A signed setup verifies,
unpacks and runs; a signed agent still plays its role; a signed update passes the agent's checks
(test_update)."""
import os
import struct
import unittest

from signing import TestSigner
from test_agent import AgentTestCase, setUpModule, tearDownModule  # noqa: F401 (module fixtures)
from test_launch import LaunchTestCase, read_bytes
from ulvtest import E2E_DIR

SIGNER = TestSigner(os.path.join(E2E_DIR, "signing"))


def end_of_data(image):
    high, low = struct.unpack_from("<II", image, 248)
    return (high << 32) | low


class SignedSetupTests(LaunchTestCase):
    def test_signed_setup_verifies_unpacks_and_runs(self):
        setup = self.engine_setup("Setup.exe", ExitCode=7, DeleteAtom=1)
        built = read_bytes(setup)
        SIGNER.sign(setup)
        signed = read_bytes(setup)
        rc, report = SIGNER.verify(setup)
        self.assertEqual(rc, 0, report)
        # The signature follows the data; the data and its end are as built (the headers the
        # signature changes lie in the first 512 bytes, which the container's checksum leaves out).
        self.assertGreater(len(signed), len(built))
        self.assertEqual(end_of_data(signed), len(built))
        self.assertEqual(signed[512:len(built)], built[512:])

        folder = self.work_folder(setup)
        run = self.run_stub(setup, "/x")
        self.assertEqual(run.rc, 7)
        self.assertEqual(self.result(), (True, 7))
        self.assertEqual(self.record()["files"], ["|Engine.exe|TestEngine.ini|"])
        self.assert_cleaned_up(folder)


class SignedAgentTests(AgentTestCase):
    def test_signed_agent_starts_its_copy_and_checks(self):
        agent = SIGNER.sign(self.agent())
        self.assertEqual(SIGNER.verify(agent)[0], 0)
        self.assertEqual(self.start_agent(agent), 0)
        self.assertIsNotNone(self.copy_window(), "the signed agent started no copy")
        pid = self.copy_pid()
        self.assertEqual(self.command(31, 1), 0)
        # Its own container, read through the end of data, names the server and the token.
        self.assertEqual(self.wait_traced(pid, r" GetOkToPerformAU=(\d)", 1), ["3"])
        self.assertEqual(self.info_requests(), 1)


if __name__ == "__main__":
    unittest.main(verbosity=2)
